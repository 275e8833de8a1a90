#pragma once

#include "download/RequestFailure.h"
#include "download/RequestOptions.h"

#include <wx/protocol/protocol.h>
#include <wx/stream.h>
#include <wx/string.h>
#include <wx/uri.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class CurlInputStream;

// One HTTP or HTTPS GET to the update server or the telemetry service.
// Calling order: construct, IsValid, Connect, OpenStream, GetError, read and
// delete the stream. Each wrapper is used by one thread.
class HTTPWrapper {
public:
    // A requested cancellation fails OpenStream with wxPROTO_ABRT and reads
    // with wxSTREAM_READ_ERROR.
    explicit HTTPWrapper(const wxString& url, const RequestOptions& options = {});

    // True when the URL has a server part and its scheme is exactly "http" or "https".
    bool IsValid() const;
    static bool IsHttpUrl(const wxString& url);

    // Checks the URL and prepares the request; no network traffic yet, so a
    // host that cannot be resolved or reached fails OpenStream (wxPROTO_CONNERR).
    bool Connect();
    // "?name=value&..." in map order, or empty. Sent after the URL's path (and
    // its own query, if it has one), escaping only spaces, controls and non-ASCII.
    wxString BuildQuery() const;
    // Sends the request and returns the body, owned by the caller, or null
    // with GetError() and GetFailure() telling why. Redirects are followed
    // as CurlInputStream::Open says; any status from 300 on fails.
    CurlInputStream* OpenStream();
    wxProtocolError GetError() const { return error; }
    RequestFailure GetFailure() const { return failure; }
    // The status of the last answer that OpenStream got (a refused redirect's
    // too), or 0.
    long GetStatus() const { return answerStatus; }

    // "scheme://host[:port]", and the path with its query as the request line
    // carries them: what a CurlInputStream is made of.
    std::string Origin() const;
    std::string RequestTarget() const;

private:
    wxURI uri;
    RequestOptions options;
    bool connected = false;
    wxProtocolError error = wxPROTO_NOERR;
    RequestFailure failure = RequestFailure::NONE;
    long answerStatus = 0;
};

// Sends a GET for url and returns its body, or null after logging why: a
// malformed URL, no answer or an error status; *failure (when given) tells which.
std::unique_ptr<wxInputStream> OpenGet(const wxString& url, const RequestOptions& options = {},
                                       RequestFailure* failure = nullptr);

// The longest first line taken: versions, tokens and event answers are a few
// dozen characters, and a server must not make the launcher keep more.
constexpr std::size_t MAX_FIRST_LINE_BYTES = 4096;

// Requests url and stores the first line of a 200 answer in out. Any other
// status, a failed read or a line longer than MAX_FIRST_LINE_BYTES fails.
// status (may be null) receives the answer's status, 0 without one.
bool FetchFirstLine(wxString& out, const wxString& url, const RequestOptions& options = {},
                    long* status = nullptr);

// The publisher's signature of the file at signedUrl, served beside it: its
// first line in signature, left empty when the server answers with an error
// status, as it does for a file it does not have. False, after logging, when
// no answer came or the answer could not be read.
bool FetchSignature(wxString& signature, const wxString& signedUrl, const RequestOptions& options = {});

// Stores the text before the first CR or LF of source in out (encoding
// detected as by wxConvAuto), reading no further than the line's end or one
// byte past MAX_FIRST_LINE_BYTES. False for a longer line or a failed read.
bool ReadFirstLine(wxInputStream& source, wxString& out);

// The Content-Length announced for url, or -1; the body is not read.
wxInt64 GetRemoteFileSize(const wxString& url, const RequestOptions& options = {});
