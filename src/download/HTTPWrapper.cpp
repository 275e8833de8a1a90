#include "download/HTTPWrapper.h"

#include "common/SignatureVerifier.h"
#include "download/CurlInputStream.h"

#include <wx/convauto.h>
#include <wx/log.h>

#include <memory>
#include <string>

namespace {

// Only what cannot stand raw in a request line is escaped; everything else
// goes out as given, because the services read names and values verbatim.
// Escapes are in lower case, as libcurl writes every escape of a URL.
std::string EscapeForRequestLine(const wxString& text)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : std::string(text.utf8_str())) {
        if (c <= 0x20 || c >= 0x7F) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0x0F];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

} // namespace

HTTPWrapper::HTTPWrapper(const wxString& url, const RequestOptions& options) : uri(url), options(options)
{
    if (!IsValid()) {
        error = wxPROTO_INVVAL;
        failure = RequestFailure::BAD_URL;
    }
}

bool HTTPWrapper::IsValid() const
{
    return uri.HasServer() && !uri.GetServer().empty() &&
           (uri.GetScheme() == "http" || uri.GetScheme() == "https");
}

bool HTTPWrapper::IsHttpUrl(const wxString& url)
{
    return HTTPWrapper(url).IsValid();
}

bool HTTPWrapper::Connect()
{
    if (!IsValid()) {
        error = wxPROTO_INVVAL;
        failure = RequestFailure::BAD_URL;
        return false;
    }
    connected = true;
    return true;
}

wxString HTTPWrapper::BuildQuery() const
{
    if (options.params == nullptr || options.params->empty()) {
        return wxString();
    }
    wxString query = "?";
    for (const auto& [name, value] : *options.params) {
        if (query.length() > 1) {
            query += "&";
        }
        query += name + "=" + value;
    }
    return query;
}

CurlInputStream* HTTPWrapper::OpenStream()
{
    if (!connected && !Connect()) {
        return nullptr;
    }
    const std::string target = RequestTarget();
    wxLogVerbose("Query: %s", wxString::FromUTF8(target));
    auto stream = std::make_unique<CurlInputStream>(Origin(), target, std::string(), options.cancellation,
                                                    options.session);
    error = stream->Open();
    failure = stream->GetFailure();
    answerStatus = stream->GetStatus();
    if (error == wxPROTO_NOERR && answerStatus >= 300) {
        error = wxPROTO_NOFILE;
        failure = RequestFailure::ERROR_STATUS;
    }
    return error == wxPROTO_NOERR ? stream.release() : nullptr;
}

std::string HTTPWrapper::Origin() const
{
    std::string origin =
        std::string(uri.GetScheme().utf8_str()) + "://" + std::string(uri.GetServer().utf8_str());
    if (uri.HasPort()) {
        origin += ":" + std::string(uri.GetPort().utf8_str());
    }
    return origin;
}

std::string HTTPWrapper::RequestTarget() const
{
    wxString target = uri.GetPath().empty() ? wxString("/") : uri.GetPath();
    wxString query = BuildQuery();
    // A query written into the URL itself is kept, ahead of the parameters.
    if (uri.HasQuery()) {
        target += "?" + uri.GetQuery();
        if (!query.empty()) {
            query[0] = '&';
        }
    }
    return EscapeForRequestLine(target + query);
}

std::unique_ptr<wxInputStream> OpenGet(const wxString& url, const RequestOptions& options,
                                       RequestFailure* failure)
{
    HTTPWrapper http(url, options);
    std::unique_ptr<wxInputStream> body;
    if (!http.IsValid()) {
        wxLogError("Malformed URL: %s", url);
    } else if (!http.Connect()) {
        wxLogError("Error connecting to server: %s", url);
    } else {
        body.reset(http.OpenStream());
        if (!body) {
            wxLogError("Error requesting input stream: %s", url);
        }
    }
    if (failure != nullptr) {
        *failure = http.GetFailure();
    }
    return body;
}

bool FetchFirstLine(wxString& out, const wxString& url, const RequestOptions& options, long* status)
{
    HTTPWrapper http(url, options);
    if (!http.IsValid() || !http.Connect()) {
        return false;
    }
    std::unique_ptr<wxInputStream> stream(http.OpenStream());
    if (status != nullptr) {
        *status = http.GetStatus();
    }
    if (http.GetError() != wxPROTO_NOERR || http.GetStatus() != 200) {
        return false;
    }
    return ReadFirstLine(*stream, out);
}

bool FetchSignature(wxString& signature, const wxString& signedUrl, const RequestOptions& options)
{
    const wxString url = SignatureVerifier::SignatureFilePath(signedUrl);
    signature.clear();
    long status = 0;
    // An error status is the server's answer that it has no signature, which
    // then fails verification; anything else that fails is a failed download.
    if (!FetchFirstLine(signature, url, options, &status) && status < 400) {
        wxLogError("Error requesting input stream: %s", url);
        return false;
    }
    return true;
}

bool ReadFirstLine(wxInputStream& source, wxString& out)
{
    // Byte by byte, so that nothing past the line's end is waited for.
    std::string line;
    char byte = 0;
    bool ended = false;
    while (line.size() <= MAX_FIRST_LINE_BYTES && source.Read(&byte, 1).LastRead() == 1) {
        ended = byte == '\r' || byte == '\n';
        if (ended) {
            break;
        }
        line += byte;
    }
    if (line.size() > MAX_FIRST_LINE_BYTES) {
        return false;
    }
    // A line cut off by a stall or a dropped connection is not an answer.
    if (!ended && source.GetLastError() == wxSTREAM_READ_ERROR) {
        return false;
    }
    out = wxString(line.data(), wxConvAuto(), line.size());
    return true;
}

wxInt64 GetRemoteFileSize(const wxString& url, const RequestOptions& options)
{
    HTTPWrapper http(url, options);
    if (!http.IsValid() || !http.Connect()) {
        return -1;
    }
    std::unique_ptr<wxInputStream> stream(http.OpenStream());
    if (http.GetError() != wxPROTO_NOERR || !stream->IsOk()) {
        return -1;
    }
    const wxFileOffset size = stream->GetLength();
    return size == wxInvalidOffset ? -1 : size;
}
