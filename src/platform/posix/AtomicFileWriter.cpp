#include "platform/AtomicFileWriter.h"

#include "platform/OwnFile.h"
#include "platform/posix/StatStatus.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

AtomicFileWriter::AtomicFileWriter(const wxString& target)
    : path(target.fn_str()), temporary(TemporaryPath(target))
{
}

AtomicFileWriter::~AtomicFileWriter()
{
    Discard();
}

bool AtomicFileWriter::Open()
{
    Discard();
    // Owner-only until Commit sets the final mode: nobody reads a half-written file.
    fd = CreateFreshFile(temporary, 0600);
    return fd != -1;
}

bool AtomicFileWriter::Write(const void* bytes, std::size_t count)
{
    const char* next = static_cast<const char*>(bytes);
    while (count > 0) {
        const ssize_t written = write(fd, next, count);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        next += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

bool AtomicFileWriter::Commit(int mode, FileStatus& status)
{
    struct stat info;
    const bool described = fchmod(fd, static_cast<mode_t>(mode)) == 0 && fstat(fd, &info) == 0;
    // A file system may report a failed write only when the file is closed.
    const bool closed = close(fd) == 0;
    fd = -1;
    if (!described || !closed || rename(temporary.fn_str(), path.c_str()) != 0) {
        unlink(temporary.fn_str());
        return false;
    }
    status = StatStatus(info);
    return true;
}

void AtomicFileWriter::Discard()
{
    if (fd == -1)
        return;
    close(fd);
    fd = -1;
    unlink(temporary.fn_str());
}

} // namespace platform
