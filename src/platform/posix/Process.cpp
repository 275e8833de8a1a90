#include "platform/Process.h"

#include <wx/log.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// How often a wait looks at its stop flag.
constexpr useconds_t WAIT_SLICE_US = 100000;

using SpawnSetup = std::function<void(posix_spawn_file_actions_t&, posix_spawnattr_t&)>;

// Starts argv[0] with the arguments argv, without a shell and with only the
// standard streams open; setup adds what else the child needs. 0 or the errno.
int Spawn(const std::vector<wxString>& argv, const SpawnSetup& setup, pid_t& pid)
{
    std::vector<std::string> words;
    for (const wxString& arg : argv)
        words.push_back(std::string(arg.fn_str()));
    std::vector<char*> pointers;
    for (std::string& word : words)
        pointers.push_back(word.data());
    pointers.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawnattr_init(&attributes);
    setup(actions, attributes);
    const int error = posix_spawn(&pid, pointers[0], &actions, &attributes, pointers.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return error;
}

} // namespace

long platform::StartDetached(const std::vector<wxString>& argv)
{
    if (argv.empty())
        return 0;
    pid_t pid = 0;
    const int error = Spawn(
        argv,
        [](posix_spawn_file_actions_t&, posix_spawnattr_t& attributes) {
            // A session of its own: a signal to this process's group (a terminal's
            // Ctrl-C while it ends) must not reach the program it hands over to.
            posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
        },
        pid);
    if (error != 0) {
        wxLogError("Could not start %s: %s", argv[0], std::strerror(error));
        return 0;
    }
    return pid;
}

bool platform::IsRunningExecutable(const wxString& path)
{
    struct stat file;
    struct stat running;
    return stat(path.fn_str(), &file) == 0 && stat("/proc/self/exe", &running) == 0 &&
           file.st_dev == running.st_dev && file.st_ino == running.st_ino;
}

int platform::StartProcess(const std::vector<wxString>& argv, const wxString& workingDir, ProcessId& pid)
{
    if (argv.empty())
        return EINVAL;
    const std::string dir(workingDir.fn_str());
    pid_t child = 0;
    const int error = Spawn(
        argv,
        [&dir](posix_spawn_file_actions_t& actions, posix_spawnattr_t&) {
            posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
        },
        child);
    if (error == 0)
        pid = child;
    return error;
}

bool platform::WaitForProcess(ProcessId pid, const std::atomic<bool>& stop)
{
    while (!stop) {
        int status = 0;
        const pid_t ended = waitpid(static_cast<pid_t>(pid), &status, WNOHANG);
        if (ended == pid || (ended < 0 && errno != EINTR))
            return true;
        usleep(WAIT_SLICE_US);
    }
    return false;
}

bool platform::MakeExecutable(const wxString& path)
{
    // A symbolic link could lead the change to a file outside the installation.
    struct stat status;
    if (lstat(path.fn_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    const mode_t readable = status.st_mode & (S_IRUSR | S_IRGRP | S_IROTH);
    // Each read bit shifted onto the execute bit of the same class.
    return chmod(path.fn_str(), (status.st_mode & 07777) | (readable >> 2)) == 0;
}
