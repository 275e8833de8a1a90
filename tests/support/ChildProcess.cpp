#include "support/ChildProcess.h"

#include "support/Polling.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

namespace {

// Child side: only async-signal-safe calls between fork and exec. The kill when
// the starting thread ends leaves no server behind a test process that crashed.
[[noreturn]] void ExecChild(char* const* argv, int out, int err, const char* workDir, pid_t parent)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent || (*workDir != '\0' && chdir(workDir) != 0))
        _exit(126); // the parent ended before the signal was armed, or no directory
    dup2(open("/dev/null", O_RDONLY | O_CLOEXEC), STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    execv(argv[0], argv);
    _exit(127);
}

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& args, const std::string& workDir)
{
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const int out = open(output.File("out").fn_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    const int err = open(output.File("err").fn_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    const pid_t parent = getpid();
    pid = fork();
    if (pid == 0)
        ExecChild(argv.data(), out, err, workDir.c_str(), parent);
    close(out);
    close(err);
    EXPECT_GT(pid, 0) << args[0];
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
