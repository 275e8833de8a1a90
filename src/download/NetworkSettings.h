#pragma once

#include <curl/curl.h>

#include <optional>
#include <string>

// How every request of the launcher reaches the network, the same for the
// whole run: through which proxy, and which certificate authorities vouch for
// a server. Set at start-up before any worker starts; each transfer applies
// it when it sets up its handle.
class NetworkSettings {
public:
    // proxy: none to use the environment's http_proxy, https_proxy, all_proxy
    // and no_proxy as libcurl reads them; "" to connect directly; otherwise
    // the proxy's URL for every request. caFile: a bundle of certificate
    // authorities trusted in place of the system's; empty for the system's.
    static void Set(const std::optional<std::string>& proxy, const std::string& caFile);
    // Applies the settings, and what every request of the launcher shares
    // (http and https only, no signals), to a handle that is new or was just
    // reset. Certificates stay verified, as libcurl does unless told not to.
    static void Apply(CURL* easy);
    // The proxy for the log: "none", its URL without a password, or the
    // environment's variables that name one.
    static std::string DescribeProxy();
};
