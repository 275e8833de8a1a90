#pragma once

#include "support/ServerProcess.h"

#include <string>

// The scripted HTTP server of tests/servers/fault_server.py, for answers that a
// well-behaved server never gives: stalls, early closes, chunked bodies, ranges
// ignored or answered with others, broken multipart answers, error statuses,
// slow trickles and an echo of the request. See the
// script for the paths it understands. It runs while the object lives, on a
// loopback port of its own, and ends with it (or with the test process).
class FaultServer {
public:
    // fileRoot: the directory that the /flaky/ paths serve files from.
    explicit FaultServer(const std::string& fileRoot = "");
    ~FaultServer();
    FaultServer(const FaultServer&) = delete;
    FaultServer& operator=(const FaultServer&) = delete;

    // 0 when the server could not start (the test has then failed already).
    int Port() const { return port; }
    // "http://127.0.0.1:PORT" followed by pathAndQuery ("/echo?a=b"; a missing "/" is added).
    std::string Url(const std::string& pathAndQuery) const;

private:
    ServerScript script;
    int port = 0;
};
