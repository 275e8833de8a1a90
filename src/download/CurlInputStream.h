#pragma once

#include "download/ByteRange.h"
#include "download/RequestFailure.h"

#include <wx/protocol/protocol.h>
#include <wx/stream.h>

#include <memory>
#include <optional>
#include <string>

class Cancellation;
class HttpSession;
class TransferGate;

// The body of one HTTP or HTTPS GET as a pull stream: each read drives the
// transfer just far enough to return data, so memory stays bounded by a small
// buffer whatever the size of the body. Reads fail with wxSTREAM_READ_ERROR
// after 10 s without a byte, when the body ends short, or when cancelled.
class CurlInputStream : public wxInputStream {
public:
    // origin is "scheme://host[:port]"; target is sent verbatim in the request
    // line. ranges ("1000-", "0-99,500-599") goes out as "Range: bytes=...";
    // empty sends no Range header. cancellation may be null; otherwise it
    // must outlive the stream. So must session, whose connection the request
    // uses and keeps; without one the stream has a connection of its own. So
    // must gate, when given: the body waits while it holds the transfer, and
    // that wait is no silence of the server's.
    CurlInputStream(const std::string& origin, const std::string& target, const std::string& ranges,
                    const Cancellation* cancellation, HttpSession* session = nullptr,
                    TransferGate* gate = nullptr);
    ~CurlInputStream() override;

    // Sends the request and waits for the final answer's headers;
    // wxPROTO_NOERR when they arrived. Up to 5 redirects (301, 302, 303, 307,
    // 308) are followed with the same ranges, to http or https addresses but
    // never from https to http; a redirect refused fails with wxPROTO_PROTERR.
    wxProtocolError Open();
    // Why Open failed; NONE when it did not.
    RequestFailure GetFailure() const;

    long GetStatus() const;
    // The range that the answer's Content-Range names; none without a valid one.
    const std::optional<ByteRange>& GetContentRange() const;
    // The answer's Content-Type and Content-Encoding, empty without them.
    const std::string& GetContentType() const;
    const std::string& GetContentEncoding() const;
    // The announced Content-Length, or wxInvalidOffset.
    wxFileOffset GetLength() const override;
    bool IsSeekable() const override { return false; }

protected:
    size_t OnSysRead(void* buffer, size_t size) override;

private:
    struct Transfer;
    std::unique_ptr<Transfer> transfer;
};
