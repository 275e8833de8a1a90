#include "support/FaultServer.h"

#include "support/ServerProcess.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace {

constexpr int kStartTimeoutMs = 10000;

// Reads the first line the server prints (its port); 0 if none comes in time.
int ReadPort(int fd)
{
    std::string line;
    char c = 0;
    pollfd ready = {fd, POLLIN, 0};
    while (line.size() < 16 && poll(&ready, 1, kStartTimeoutMs) == 1 && read(fd, &c, 1) == 1) {
        if (c == '\n')
            return std::atoi(line.c_str());
        line += c;
    }
    return 0;
}

}  // namespace

FaultServer::FaultServer(const std::string& fileRoot)
{
    int toServer[2];
    int fromServer[2];
    if (pipe2(toServer, O_CLOEXEC) != 0 || pipe2(fromServer, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe failed";
        return;
    }
    std::vector<std::string> command = {"/usr/bin/python3", TEST_SERVERS_DIR "/fault_server.py"};
    if (!fileRoot.empty())
        command.insert(command.end(), {"--root", fileRoot});
    pid = StartServerProcess(command, toServer[0], fromServer[1], "");
    close(toServer[0]);
    close(fromServer[1]);
    input = toServer[1];
    port = ReadPort(fromServer[0]);
    close(fromServer[0]);
    if (port == 0)
        ADD_FAILURE() << "the fault server did not start (is python3 installed?)";
}

FaultServer::~FaultServer()
{
    if (input >= 0)
        close(input);
    // End of stdin makes the server exit at once; the signal is for one that hangs.
    StopServerProcess(pid, 0, std::chrono::milliseconds(2000));
}

std::string FaultServer::Url(const std::string& pathAndQuery) const
{
    const std::string slash = pathAndQuery.starts_with("/") ? "" : "/";
    return "http://127.0.0.1:" + std::to_string(port) + slash + pathAndQuery;
}

std::string FaultServer::Pattern(std::uint64_t start, std::size_t count)
{
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<char>((start + i) % 251);
    return bytes;
}
