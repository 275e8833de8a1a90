#pragma once

#include "support/ChildProcess.h"
#include "support/TempDir.h"

#include <wx/string.h>

#include <memory>
#include <string>

// Debian's nginx, configured by tests/servers/nginx.conf.in, serving the files
// that the test writes with byte ranges (and under "/slow/" at 16 kB/s) on a
// loopback port of its own while the object lives; its state goes with it.
class NginxServer {
public:
    // With https, the same files also over TLS on a second port.
    explicit NginxServer(bool https = false);
    // The certificate authority that vouches for the https port, for caFile.
    static std::string Authority();

    // The directory served as "/".
    const wxString& Root() const { return root; }
    // "http://127.0.0.1:PORT" followed by path ("/a/b.bin"; a missing "/" is added).
    std::string Url(const std::string& path) const;
    // "https://HOST:PORT" followed by path, on the https port.
    std::string HttpsUrl(const std::string& path, const std::string& host = "127.0.0.1") const;

    // Writes a file under Root(), creating parent directories.
    void Write(const wxString& name, const std::string& bytes) const { state.Write("www/" + name, bytes); }
    std::string Read(const wxString& name) const { return state.Read("www/" + name); }
    // One line per finished request ("GET /a.zip ..."), as nginx logs them.
    std::string AccessLog() const { return state.Read("access.log"); }
    // How many logged requests hold part in their line, once at least expected
    // have come or 5 s have passed (nginx logs a request when its connection
    // is done with it), and a moment later, so that one too many shows.
    int Requests(const std::string& part, int expected) const;

private:
    bool StartOn(int candidate, int tlsCandidate);

    TempDir state;
    wxString root;
    std::unique_ptr<ChildProcess> nginx;
    int port = 0;
    int tlsPort = 0;
};
