#include "support/ServerProcess.h"

#include "support/Polling.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Child side: only async-signal-safe calls between fork and exec.
[[noreturn]] void ExecChild(char* const* argv, int in, int out, int err, const char* workDir, pid_t parent)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(126); // the test ended before the signal was armed
    if (*workDir != '\0' && chdir(workDir) != 0)
        _exit(126);
    int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    dup2(in >= 0 ? in : null, STDIN_FILENO);
    dup2(out >= 0 ? out : null, STDOUT_FILENO);
    if (err >= 0)
        dup2(err, STDERR_FILENO);
    execv(argv[0], argv);
    _exit(127);
}

} // namespace

pid_t StartServerProcess(const std::vector<std::string>& args, int in, int out, const std::string& stderrPath,
                         const std::string& workDir)
{
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    int err = -1;
    if (!stderrPath.empty())
        err = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);

    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0)
        ExecChild(argv.data(), in, out, err, workDir.c_str(), parent);
    if (err >= 0)
        close(err);
    return pid;
}

ServerScript StartServerScript(const std::string& script, const std::vector<std::string>& args)
{
    ServerScript server;
    int toServer[2];
    int fromServer[2];
    if (pipe2(toServer, O_CLOEXEC) != 0 || pipe2(fromServer, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe failed";
        return server;
    }
    std::vector<std::string> command = {"/usr/bin/python3", TEST_SERVERS_DIR "/" + script};
    command.insert(command.end(), args.begin(), args.end());
    server.pid = StartServerProcess(command, toServer[0], fromServer[1], "");
    close(toServer[0]);
    close(fromServer[1]);
    server.input = toServer[1];
    server.output = fromServer[0];
    return server;
}

bool ReadServerLine(int output, std::string& line, std::chrono::milliseconds timeout)
{
    line.clear();
    pollfd ready = {output, POLLIN, 0};
    char c = 0;
    while (poll(&ready, 1, static_cast<int>(timeout.count())) == 1 && read(output, &c, 1) == 1) {
        if (c == '\n')
            return true;
        line += c;
    }
    return false;
}

void StopServerScript(ServerScript& server)
{
    for (int* fd : {&server.input, &server.output}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
    // End of stdin makes the script exit at once; the kill is for one that hangs.
    // ECHILD: reaped by an earlier look, and its id may belong to another process now.
    const auto ended = [&] {
        const pid_t result = waitpid(server.pid, nullptr, WNOHANG);
        return result == server.pid || (result < 0 && errno == ECHILD);
    };
    if (server.pid > 0 && !WaitUntil(ended, std::chrono::seconds(2))) {
        kill(server.pid, SIGKILL);
        waitpid(server.pid, nullptr, 0);
    }
    server.pid = -1;
}
