#include "support/ChildProcess.h"

#include "support/Polling.h"
#include "support/ServerProcess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& workDir)
{
    const int out = open(output.File("out").fn_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    pid = StartServerProcess(argv, -1, out, output.File("err").ToStdString(), workDir);
    close(out);
    EXPECT_GT(pid, 0) << argv[0];
}

ChildProcess::~ChildProcess()
{
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

bool ChildProcess::Running()
{
    if (pid > 0 && waitpid(pid, &status, WNOHANG) == pid)
        pid = -1;
    return pid > 0;
}

int ChildProcess::Wait(std::chrono::milliseconds timeout)
{
    if (!WaitUntil([this] { return !Running(); }, timeout))
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int ChildProcess::Stop(int signal)
{
    if (Running())
        kill(pid, signal);
    return Wait();
}
