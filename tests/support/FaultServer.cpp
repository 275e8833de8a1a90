#include "support/FaultServer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

FaultServer::FaultServer(const std::string& fileRoot)
{
    std::vector<std::string> args;
    if (!fileRoot.empty())
        args = {"--root", fileRoot};
    script = StartServerScript("fault_server.py", args);
    std::string line;
    if (ReadServerLine(script.output, line, std::chrono::seconds(10)))
        port = std::atoi(line.c_str());
    if (port == 0)
        ADD_FAILURE() << "the fault server did not start (is python3 installed?)";
}

FaultServer::~FaultServer()
{
    StopServerScript(script);
}

std::string FaultServer::Url(const std::string& pathAndQuery) const
{
    const std::string slash = pathAndQuery.starts_with("/") ? "" : "/";
    return "http://127.0.0.1:" + std::to_string(port) + slash + pathAndQuery;
}
