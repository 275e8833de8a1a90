#include "support/NginxServer.h"

#include "support/ChildProcess.h"
#include "support/Polling.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <wx/filefn.h>
#include <wx/filename.h>

#include <thread>

namespace {

constexpr int kAttempts = 5;
constexpr auto kStartTimeout = std::chrono::seconds(10);

// A port that was free a moment ago: the kernel's choice for a socket bound to port 0.
int FreePort()
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

// A certificate authority of this test program's own and the certificate of
// the https ports that it signed for 127.0.0.1 and localhost (P-256 keys,
// quick to make), made once per run.
const TempDir& Certificates()
{
    static const TempDir dir;
    static const int status =
        ChildProcess(
            {"/bin/sh", "-c",
             "set -e; new='openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1';"
             "$new -keyout ca.key -out ca.pem -subj /CN=authority;"
             "$new -keyout server.key -out server.pem -subj /CN=localhost -CA ca.pem -CAkey ca.key"
             " -addext subjectAltName=IP:127.0.0.1,DNS:localhost -addext basicConstraints=CA:FALSE"},
            dir.Path().ToStdString())
            .Wait();
    if (status != 0)
        ADD_FAILURE() << "openssl could not make the test certificates";
    return dir;
}

} // namespace

std::string NginxServer::Authority()
{
    return Certificates().File("ca.pem").ToStdString();
}

NginxServer::NginxServer(bool https) : root(state.File("www"))
{
    wxFileName::Mkdir(root, wxS_DIR_DEFAULT, wxPATH_MKDIR_FULL);
    wxFileName::Mkdir(state.File("tmp"), wxS_DIR_DEFAULT, wxPATH_MKDIR_FULL);
    for (int attempt = 0; attempt < kAttempts && port == 0; ++attempt) {
        const int candidate = FreePort();
        const int tlsCandidate = https ? FreePort() : 0;
        if (candidate != 0 && (!https || tlsCandidate != 0) && StartOn(candidate, tlsCandidate)) {
            port = candidate;
            tlsPort = tlsCandidate;
        }
    }
    if (port == 0)
        ADD_FAILURE() << "nginx did not start (is it installed?)\n" << state.Read("error.log");
}

bool NginxServer::StartOn(int candidate, int tlsCandidate)
{
    const std::string stateDir = state.Path().ToStdString();
    wxString text = ReadFileBytes(TEST_SERVERS_DIR "/nginx.conf.in");
    text.Replace("@STATE@", stateDir);
    text.Replace("@ROOT@", root);
    text.Replace("@PORT@", std::to_string(candidate));
    text.Replace("@TLS@", tlsCandidate == 0
                              ? wxString()
                              : wxString::Format("listen 127.0.0.1:%d ssl; ssl_certificate "
                                                 "\"%s/server.pem\"; ssl_certificate_key \"%s/server.key\";",
                                                 tlsCandidate, Certificates().Path(), Certificates().Path()));
    state.Write("nginx.conf", text.ToStdString());

    nginx = std::make_unique<ChildProcess>(std::vector<std::string>{"/usr/sbin/nginx", "-p", stateDir + "/",
                                                                    "-c", stateDir + "/nginx.conf", "-e",
                                                                    stateDir + "/error.log"});
    // nginx writes its pid file only once it listens, and ends when another
    // process took the port in the meantime.
    WaitUntil([this] { return wxFileExists(state.File("nginx.pid")) || !nginx->Running(); }, kStartTimeout);
    if (!nginx->Running() || !wxFileExists(state.File("nginx.pid")))
        nginx.reset();
    return nginx != nullptr;
}

std::string NginxServer::Url(const std::string& path) const
{
    const std::string slash = path.starts_with("/") ? "" : "/";
    return "http://127.0.0.1:" + std::to_string(port) + slash + path;
}

std::string NginxServer::HttpsUrl(const std::string& path, const std::string& host) const
{
    const std::string slash = path.starts_with("/") ? "" : "/";
    return "https://" + host + ":" + std::to_string(tlsPort) + slash + path;
}

int NginxServer::Requests(const std::string& part, int expected) const
{
    WaitUntil([&] { return Count(AccessLog(), part) >= expected; }, std::chrono::seconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return Count(AccessLog(), part);
}
