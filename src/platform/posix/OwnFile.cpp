#include "platform/OwnFile.h"

#include <wx/filename.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int SAFE_FLAGS = O_NOFOLLOW | O_CLOEXEC;

int AccessFlags(platform::FileAccess access)
{
    switch (access) {
    case platform::FileAccess::Read:
        return O_RDONLY;
    case platform::FileAccess::ReadWrite:
        return O_RDWR;
    case platform::FileAccess::Append:
        return O_WRONLY | O_APPEND | O_CREAT;
    }
    return O_RDONLY;
}

// The path with its links resolved, or empty when it cannot be.
std::string Resolved(const wxString& path)
{
    char resolved[PATH_MAX];
    return realpath(path.fn_str(), resolved) != nullptr ? std::string(resolved) : std::string();
}

} // namespace

wxString platform::TemporaryPath(const wxString& path)
{
    return path + "\\part";
}

int platform::CreateFreshFile(const wxString& path, int mode)
{
    const wxCharBuffer name = path.fn_str();
    if (unlink(name) != 0 && errno != ENOENT)
        return -1;
    return open(name, O_WRONLY | O_CREAT | O_EXCL | SAFE_FLAGS, static_cast<mode_t>(mode));
}

int platform::OpenRegularFile(const wxString& path, FileAccess access)
{
    // Without waiting: opening a FIFO for reading waits for a writer.
    const int fd = open(path.fn_str(), AccessFlags(access) | SAFE_FLAGS | O_NONBLOCK, 0666);
    struct stat status;
    if (fd < 0 || (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
                   fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0))
        return fd;
    close(fd);
    return -1;
}

bool platform::IsInsideDirectory(const wxString& path, const wxString& directory)
{
    const wxFileName file(path);
    const std::string folder = Resolved(file.GetPath());
    const std::string base = Resolved(directory);
    return !folder.empty() && !base.empty() && (folder + "/").starts_with(base + "/");
}
