#include "support/ScriptedServer.h"

#include "support/Polling.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

namespace {

std::vector<std::string> Command(const std::string& script, const std::vector<std::string>& args)
{
    std::vector<std::string> command = {"/usr/bin/python3", TEST_SERVERS_DIR "/" + script};
    command.insert(command.end(), args.begin(), args.end());
    return command;
}

} // namespace

ScriptedServer::ScriptedServer(const std::string& script, const std::vector<std::string>& args)
    : process(Command(script, args), dir.Path().ToStdString())
{
    WaitUntil([this] { return process.Out().find('\n') != std::string::npos || !process.Running(); });
    port = std::atoi(process.Out().c_str());
    if (port == 0)
        ADD_FAILURE() << script << " did not start\n" << process.Err();
}

std::string ScriptedServer::Url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(port) + (path.starts_with("/") ? "" : "/") + path;
}

std::vector<std::string> ScriptedServer::Reports() const
{
    const std::string text = process.Out();
    std::istringstream out(text.substr(text.find('\n') + 1));
    std::vector<std::string> lines;
    // A line without its end is still being written.
    for (std::string line; std::getline(out, line) && !out.eof();)
        lines.push_back(line);
    return lines;
}
