#pragma once

#include "download/ParameterMap.h"

#include <wx/protocol/protocol.h>
#include <wx/stream.h>
#include <wx/string.h>
#include <wx/uri.h>

#include <cstddef>
#include <cstdint>
#include <string>

class Cancellation;
class HttpSession;

// One plain HTTP GET to the update server or the telemetry service.
// Calling order: construct, IsValid, optionally SetRange, Connect, OpenStream,
// GetError, read and delete the stream, then delete the wrapper (which must
// outlive its stream). Each wrapper is used by one thread.
class HTTPWrapper {
public:
    // params may be null; the caller keeps the map alive as long as the wrapper.
    // A requested cancellation (may be null; set from any thread, it must
    // outlive the stream) makes the transfer fail within about 0.1 s:
    // OpenStream with wxPROTO_ABRT, reads with wxSTREAM_READ_ERROR.
    explicit HTTPWrapper(const wxString& url, const ParameterMap* params = nullptr,
                         const Cancellation* cancellation = nullptr);

    // True when the URL has a server part and its scheme is exactly "http".
    bool IsValid() const;
    static bool IsHttpUrl(const wxString& url);

    // The request goes over session's kept connection (session must outlive
    // the stream); without one over a connection of its own.
    void SetSession(HttpSession* session) { this->session = session; }
    // Checks the URL and prepares the request; no network traffic yet, so a
    // host that cannot be resolved or reached fails OpenStream (wxPROTO_CONNERR).
    bool Connect();
    // "?name=value&..." in map order, or empty. Sent after the URL's path (and
    // its own query, if it has one), escaping only spaces, controls and non-ASCII.
    wxString BuildQuery() const;
    // Sends the request and returns the body, owned by the caller, or null
    // with GetError() telling why. A 4xx or 5xx status fails. Redirections
    // are not followed: a 3xx returns its own body.
    wxInputStream* OpenStream();
    wxProtocolError GetError() const { return error; }
    // The status of the answer that OpenStream returned, or 0.
    long GetStatus() const { return answerStatus; }

    // "http://host[:port]", and the path with its query as the request line
    // carries them: what a CurlInputStream is made of.
    std::string Origin() const;
    std::string RequestTarget() const;

private:
    wxURI uri;
    const ParameterMap* params;
    bool connected = false;
    wxProtocolError error = wxPROTO_NOERR;
    long answerStatus = 0;
    const Cancellation* cancellation;
    HttpSession* session = nullptr;
};

// The longest first line taken: versions, tokens and event answers are a few
// dozen characters, and a server must not make the launcher keep more.
constexpr std::size_t MAX_FIRST_LINE_BYTES = 4096;

// Requests url with params and stores the first line of a 200 answer in out.
// Any other status, a failed read or a line longer than MAX_FIRST_LINE_BYTES
// fails. status (may be null) receives the answer's status, 0 without one.
// session (may be null) carries the request as HTTPWrapper::SetSession says.
bool FetchFirstLine(wxString& out, const wxString& url, const ParameterMap* params = nullptr,
                    const Cancellation* cancellation = nullptr, long* status = nullptr,
                    HttpSession* session = nullptr);

// Stores the text before the first CR or LF of source in out (encoding
// detected as by wxConvAuto), reading no further than the line's end or one
// byte past MAX_FIRST_LINE_BYTES. False for a longer line or a failed read.
bool ReadFirstLine(wxInputStream& source, wxString& out);

// The Content-Length announced for url, or -1; the body is not read.
wxInt64 GetRemoteFileSize(const wxString& url, const Cancellation* cancellation = nullptr);
