#include "platform/FileLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool LockNow(int fd)
{
    return flock(fd, LOCK_EX | LOCK_NB) == 0;
}

// True while path still names the open file fd, i.e. nobody has unlinked or
// replaced it since it was opened.
bool NamesFile(const char* path, int fd)
{
    struct stat opened;
    struct stat named;
    return fstat(fd, &opened) == 0 && stat(path, &named) == 0 && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

bool IsGone(const char* path)
{
    return access(path, F_OK) != 0 && errno == ENOENT;
}

} // namespace

bool platform::HoldFile(int fd, const wxString& path)
{
    // A process started by exec must not inherit the lock, or a launcher that
    // restarts into a new one would find itself still running.
    int flags = fcntl(fd, F_GETFD);
    if (flags < 0 || fcntl(fd, F_SETFD, flags | FD_CLOEXEC) != 0 || !LockNow(fd))
        return false;
    // Another process may have found the file unlocked and removed it between
    // our open and our lock; a lock on a file nobody can find marks nothing.
    if (NamesFile(path.fn_str(), fd))
        return true;
    flock(fd, LOCK_UN);
    return false;
}

bool platform::RemoveUnlessHeld(const wxString& path)
{
    const wxCharBuffer name = path.fn_str();
    // Never waits for a writer of a FIFO, and a link marks nothing: only a
    // regular file of the lock directory itself can be a lock.
    int fd = open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0)
        return errno == ENOENT || errno == ELOOP;
    struct stat opened;
    if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        close(fd);
        return true;
    }
    // Unlink only under our own lock, and only the file we locked: by now the
    // path may name a new file that a live process is about to lock.
    bool removed = false;
    if (LockNow(fd))
        removed = NamesFile(name, fd) ? unlink(name) == 0 || errno == ENOENT : IsGone(name);
    close(fd);
    return removed;
}
