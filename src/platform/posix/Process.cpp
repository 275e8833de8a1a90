#include "platform/Process.h"

#include <wx/log.h>

#include <cerrno>
#include <cstring>
#include <spawn.h>
#include <string>
#include <sys/stat.h>

extern char** environ;

long platform::StartDetached(const std::vector<wxString>& argv)
{
    if (argv.empty())
        return 0;
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
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_init(&attributes);
    // A session of its own: a signal to this process's group (a terminal's
    // Ctrl-C while it ends) must not reach the program it hands over to.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = 0;
    const int error = posix_spawn(&pid, pointers[0], &actions, &attributes, pointers.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
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
