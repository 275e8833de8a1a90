#pragma once

#include "support/ScriptedServer.h"

#include <string>

// The scripted HTTP server of tests/servers/fault_server.py, for answers that a
// well-behaved server never gives; the script lists the paths it understands.
class FaultServer : public ScriptedServer {
public:
    // fileRoot: the directory that the paths for files serve them from.
    explicit FaultServer(const std::string& fileRoot = "") : ScriptedServer("fault_server.py", {fileRoot}) {}

    // How many requests so far hold part in "GET PATH RANGE" ("/a.zip bytes=0-").
    int Requests(const std::string& part) const;
};
