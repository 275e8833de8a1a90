#include "support/DiskFull.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wx/log.h>

#include <csignal>

int RunWithDiskFullAfter(long limitBytes, const std::function<int()>& body)
{
    const pid_t child = fork();
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN); // writes past the limit then fail with EFBIG
        const rlimit limit{static_cast<rlim_t>(limitBytes), static_cast<rlim_t>(limitBytes)};
        setrlimit(RLIMIT_FSIZE, &limit);
        wxLog::EnableLogging(false);
        _exit(body());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
