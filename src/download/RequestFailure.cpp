#include "download/RequestFailure.h"

#include <wx/log.h>

#include <memory>
#include <string>

namespace {

bool IsTlsFailure(CURLcode result)
{
    switch (result) {
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return true;
    default:
        return false;
    }
}

std::string EffectiveUrl(CURL* easy)
{
    const char* url = nullptr;
    curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &url);
    return url != nullptr ? url : "";
}

std::string HostOf(const std::string& url)
{
    const std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), &curl_url_cleanup);
    char* host = nullptr;
    if (curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK ||
        curl_url_get(parsed.get(), CURLUPART_HOST, &host, 0) != CURLUE_OK) {
        return url;
    }
    const std::string text = host;
    curl_free(host);
    return text;
}

} // namespace

RequestFailure ReportTransferFailure(CURL* easy, CURLcode result, const char* errorText)
{
    // The buffer stays empty for some failures; libcurl's short text then says what it can.
    const wxString reason = *errorText != '\0' ? errorText : curl_easy_strerror(result);
    const std::string url = EffectiveUrl(easy);
    if (IsTlsFailure(result)) {
        wxLogError("TLS failure for %s: %s", wxString::FromUTF8(HostOf(url)), reason);
        return RequestFailure::TLS;
    }
    wxLogVerbose("No answer from %s: %s", wxString::FromUTF8(url), reason);
    return RequestFailure::NO_ANSWER;
}
