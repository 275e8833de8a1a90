#pragma once

#include "support/ScriptedServer.h"

// The scripted HTTP server of tests/servers/fault_server.py, for answers that a
// well-behaved server never gives; the script lists the paths it understands.
class FaultServer : public ScriptedServer {
public:
    // fileRoot: the directory that the paths for files serve them from.
    explicit FaultServer(const std::string& fileRoot = "") : ScriptedServer("fault_server.py", {fileRoot}) {}
};
