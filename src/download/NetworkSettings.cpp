#include "download/NetworkSettings.h"

#include <cstdlib>
#include <mutex>

namespace {

struct Settings {
    std::optional<std::string> proxy;
    std::string caFile;
};

std::mutex settingsLock;
Settings settings;

// The variables that libcurl reads: http_proxy in lower case only, the
// others in either case.
const char* const PROXY_VARIABLES[] = {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy",
                                       "ALL_PROXY",  "no_proxy",    "NO_PROXY"};

// A proxy URL as the log may show it: a password in it becomes "***".
std::string WithoutPassword(const std::string& url)
{
    const std::size_t scheme = url.find("://");
    const std::size_t user = scheme == std::string::npos ? 0 : scheme + 3;
    const std::size_t at = url.find('@', user);
    const std::size_t colon = url.find(':', user);
    if (at == std::string::npos || colon > at) {
        return url;
    }
    return url.substr(0, colon + 1) + "***" + url.substr(at);
}

} // namespace

void NetworkSettings::Set(const std::optional<std::string>& proxy, const std::string& caFile)
{
    const std::lock_guard lock(settingsLock);
    settings = {proxy, caFile};
}

void NetworkSettings::Apply(CURL* easy)
{
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    const std::lock_guard lock(settingsLock);
    if (settings.proxy) {
        curl_easy_setopt(easy, CURLOPT_PROXY, settings.proxy->c_str());
        // The environment's exceptions belong to the environment's proxies.
        curl_easy_setopt(easy, CURLOPT_NOPROXY, "");
    }
    if (!settings.caFile.empty()) {
        curl_easy_setopt(easy, CURLOPT_CAINFO, settings.caFile.c_str());
    }
}

std::string NetworkSettings::DescribeProxy()
{
    const std::lock_guard lock(settingsLock);
    if (settings.proxy) {
        return settings.proxy->empty() ? "none (launcher.conf)"
                                       : WithoutPassword(*settings.proxy) + " (launcher.conf)";
    }
    std::string found;
    for (const char* name : PROXY_VARIABLES) {
        if (const char* value = std::getenv(name); value != nullptr && *value != '\0') {
            found += (found.empty() ? "" : " ") + std::string(name) + "=" + WithoutPassword(value);
        }
    }
    return found.empty() ? "none" : found + " (environment)";
}
