#pragma once

#include "support/ChildProcess.h"
#include "support/TempDir.h"

#include <string>
#include <vector>

// A server script of tests/servers run by python3 in a directory of its own,
// on a loopback port of its own, while the object lives. The script prints its
// port and then a line for each thing it reports.
class ScriptedServer {
public:
    explicit ScriptedServer(const std::string& script, const std::vector<std::string>& args = {});
    // 0 when the server could not start (the test has then failed already).
    int Port() const { return port; }
    // "http://127.0.0.1:PORT" followed by path ("/echo?a=b"; a missing "/" is added).
    std::string Url(const std::string& path) const;
    // The lines reported after the port.
    std::vector<std::string> Reports() const;

protected:
    const TempDir& Dir() const { return dir; }

private:
    TempDir dir;
    ChildProcess process;
    int port = 0;
};
