#pragma once

#include "platform/FileStatus.h"

#include <sys/stat.h>

namespace platform {

// What a stat call told, in the platform-neutral form.
inline FileStatus StatStatus(const struct stat& info)
{
    FileStatus status;
    status.device = info.st_dev;
    status.inode = info.st_ino;
    status.size = static_cast<std::uint64_t>(info.st_size);
    status.modified = info.st_mtime;
    status.mode = static_cast<int>(info.st_mode & 07777);
    status.regularFile = S_ISREG(info.st_mode);
    return status;
}

} // namespace platform
