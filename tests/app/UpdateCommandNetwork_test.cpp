// Runs the real velorian-update through proxies, over TLS and across
// redirects to a release on loopback, and checks what it installs and logs.
#include "app/LauncherConfig.h"
#include "support/Bytes.h"
#include "support/ChildProcess.h"
#include "support/FaultServer.h"
#include "support/NginxServer.h"
#include "support/ScriptedServer.h"
#include "support/TestRelease.h"

#include <gtest/gtest.h>
#include <wx/dir.h>

#include <algorithm>

namespace {

// Every request goes through the proxy that the environment or launcher.conf
// names, and only then. A certificate that neither the system nor the
// publisher's authority vouches for, a redirect from https to http or a
// version answer that is no version ends the update at once, before it writes
// anything, with what was wrong in the log; a server error is asked again. A
// setting that cannot be used ends it before any request.
TEST(UpdateCommandNetwork, ReachesTheReleaseThroughProxiesTlsAndRedirectsOrRefusesIt)
{
    NginxServer server(true);
    FaultServer faults;
    ScriptedServer proxy("forward_proxy.py"); // reports the request lines it passes on
    const std::string language = LauncherConfig().languageCode.ToStdString();
    TestRelease release;
    release.Add("a.bin", Pattern(0, 70000), true);
    release.Publish(server.Root() + "/rel", "2.0", language);
    server.Write("page/version-win-" + language + ".php",
                 "<!DOCTYPE html>\n<html><body>Welcome</body></html>\n");
    server.Write("gzip/version-win-" + language + ".php", Deflate("2.0\n", GZIP));
    const std::string viaProxy = "http://127.0.0.1:" + std::to_string(proxy.Port());
    const std::string authority = "caFile=" + NginxServer::Authority();
    const std::string plain = server.Url("/rel/"), secure = server.HttpsUrl("/rel/");
    const std::string plainHost = plain.substr(7, plain.size() - 12),
                      secureHost = secure.substr(8, secure.size() - 13);
    const std::string notAVersion = "The update server's answer is not a version: status ";
    const struct {
        std::string environment, settings, baseUrl;
        int exit;
        std::string proxied = ""; // a request line that the proxy passed on; empty: none at all
        std::string logged = "";
    } rows[] = {
        {"http_proxy=" + viaProxy, "", plain, 0, "GET " + plain + "a.zip HTTP/1.1"},
        {"http_proxy=http://127.0.0.1:1", "proxy=" + viaProxy, plain, 0, "GET " + plain + "a.zip HTTP/1.1"},
        {"http_proxy=" + viaProxy, "proxy=", plain, 0, ""},
        {"https_proxy=" + viaProxy, authority, secure, 0, "CONNECT " + secureHost + " HTTP/1.1"},
        {"http_proxy=", "", secure, 4, "",
         "TLS failure for 127.0.0.1: SSL certificate problem: unable to get local"},
        // The archive's ranges, asked again where the redirects lead, or the update would fail.
        {"http_proxy=", authority,
         server.Url("/moved/https/" + server.HttpsUrl("/rel/", "localhost").substr(8)), 0},
        {"http_proxy=", authority, server.HttpsUrl("/moved/http/" + plainHost + "/rel/"), 4, "",
         ": from https to plain http."},
        {"http_proxy=", "", server.Url("/page/"), 4, "", notAVersion + "200, " + server.Url("/page/")},
        {"http_proxy=", "", server.Url("/gzip/"), 4, "", "php: binary data"},
        {"http_proxy=", "", faults.Url("/lines?text=2.0&encoding=gzip&x=/"), 4, "",
         "(Content-Encoding: gzip)"},
        {"http_proxy=", "", server.Url("/absent/"), 4, "", notAVersion + "404, "},
        {"http_proxy=", "", faults.Url("/status/503/"), 4, "", "answered only with errors for 1 seconds"},
        {"http_proxy=", "", "ftp://" + plainHost + "/rel/", 1, "",
         "Config: The setting baseUrl cannot be used"},
        {"http_proxy=", "", "http:///rel/", 1, "", "Config: The setting baseUrl cannot be used"},
        {"http_proxy=", "caFile=absent.pem", plain, 1, "", "Config: The setting caFile cannot be used"},
        {"http_proxy=", "proxy=3128", plain, 1, "", "Config: The setting proxy cannot be used"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.environment + " " + row.settings + " " + row.baseUrl);
        TempDir install;
        install.Write("launcher.conf", "baseUrl=" + row.baseUrl + "\nuploadUrl=" +
                                           server.Url("/telemetry.aspx") + "\n" + row.settings + "\n");
        const std::size_t proxiedBefore = proxy.Reports().size();
        ChildProcess run({"/usr/bin/env", row.environment, UPDATE_COMMAND_EXE, "--wait", "1",
                          install.Path().ToStdString()});
        EXPECT_EQ(run.Wait(), row.exit) << run.Out() << run.Err();

        EXPECT_EQ(install.Read("a.bin") == release.Files().at("a.bin"), row.exit == 0);
        EXPECT_EQ(install.Read("version.inf"), row.exit == 0 ? "2.0" : "");
        wxArrayString logs;
        wxDir::GetAllFiles(install.File("logs"), &logs, "launcher_log-*");
        const std::string log = logs.empty() ? "" : ReadFileBytes(logs[0]);
        EXPECT_EQ(log.find("did not answer"), std::string::npos);
        EXPECT_NE(log.find(row.logged), std::string::npos) << log;
        const std::vector<std::string> proxied = proxy.Reports();
        EXPECT_EQ(proxied.size() == proxiedBefore, row.proxied.empty());
        if (!row.proxied.empty()) {
            EXPECT_NE(std::find(proxied.begin() + proxiedBefore, proxied.end(), row.proxied), proxied.end());
        }
    }
}

} // namespace
