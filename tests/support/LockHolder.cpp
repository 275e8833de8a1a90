#include "support/LockHolder.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

// Child side of LockHolder; only async-signal-safe calls after fork.
[[noreturn]] void HoldAndWait(const char* path, int link)
{
    int fd = open(path, O_WRONLY | O_CREAT, 0644);
    char status = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 && write(fd, "\n", 1) == 1 ? 'L' : 'F';
    if (write(link, &status, 1) != 1)
        _exit(1);
    // Returns only if the test process dies without killing us.
    while (read(link, &status, 1) < 0 && errno == EINTR) {
    }
    _exit(0);
}

} // namespace

LockHolder::LockHolder(const wxString& path)
{
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return;
    const std::string name(path.fn_str());
    pid = fork();
    if (pid == 0)
        HoldAndWait(name.c_str(), ends[1]);
    close(ends[1]);
    link = ends[0];
}

bool LockHolder::Locked()
{
    pollfd ready = {link, POLLIN, 0};
    char status = 0;
    return poll(&ready, 1, 10000) == 1 && read(link, &status, 1) == 1 && status == 'L';
}

void LockHolder::Kill()
{
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        close(link);
    }
    pid = -1;
}
