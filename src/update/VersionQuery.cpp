#include "update/VersionQuery.h"

#include "common/VersionText.h"
#include "download/CurlInputStream.h"
#include "download/HTTPWrapper.h"

#include <algorithm>
#include <memory>

namespace {

// How much of a line that is not a version the log shows.
constexpr std::size_t SHOWN_CHARACTERS = 64;

// Control characters, or bytes that did not decode: compressed or binary data.
bool IsBinary(const wxString& line)
{
    return std::any_of(line.begin(), line.end(), [](wxUniChar c) {
        const auto code = c.GetValue();
        return (code < 0x20 && code != '\t') || (code >= 0x7F && code < 0xA0) || code == 0xFFFD;
    });
}

} // namespace

VersionQuery::VersionQuery(const wxString& url, const RequestOptions& options)
{
    HTTPWrapper http(url, options);
    const std::unique_ptr<CurlInputStream> body(http.OpenStream());
    status = http.GetStatus();
    switch (http.GetFailure()) {
    case RequestFailure::NONE:
        ReadAnswer(*body);
        break;
    case RequestFailure::TLS:
        outcome = TLS_FAILURE;
        break;
    case RequestFailure::REDIRECT:
        Refuse("a redirect that the launcher does not follow");
        break;
    case RequestFailure::ERROR_STATUS:
        if (status >= 500) {
            outcome = SERVER_ERROR;
        } else {
            Refuse("an error status");
        }
        break;
    case RequestFailure::BAD_URL:
        Refuse("not an http or https URL");
        break;
    case RequestFailure::NO_ANSWER:
        break;
    }
}

void VersionQuery::ReadAnswer(CurlInputStream& body)
{
    // libcurl leaves the body as it came: a compressed one cannot be read.
    const std::string& encoding = body.GetContentEncoding();
    if (!encoding.empty() && encoding != "identity") {
        Refuse("a compressed body (Content-Encoding: " + wxString::FromUTF8(encoding) + ")");
        return;
    }
    if (body.GetContentType().starts_with("text/html")) {
        Refuse("an HTML page");
        return;
    }
    wxString line;
    if (!ReadFirstLine(body, line)) {
        // A line cut off may come whole next time; an endless one will not.
        if (body.GetLastError() != wxSTREAM_READ_ERROR) {
            Refuse("a first line longer than it may be");
        }
        return;
    }
    if (line.StartsWith("<")) {
        Refuse("an HTML page");
    } else if (IsBinary(line)) {
        Refuse("binary data");
    } else if (!LooksLikeVersion(line)) {
        Refuse("the line \"" + line.Left(SHOWN_CHARACTERS) + "\"");
    } else {
        outcome = VERSION;
        version = line;
    }
}

void VersionQuery::Refuse(const wxString& what)
{
    outcome = NOT_A_VERSION;
    problem = what;
}
