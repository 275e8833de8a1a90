#include "platform/FileStatus.h"

#include <sys/stat.h>

bool platform::GetFileStatus(const wxString& path, FileStatus& status)
{
    struct stat info;
    if (stat(path.fn_str(), &info) != 0)
        return false;
    status.device = info.st_dev;
    status.inode = info.st_ino;
    status.size = static_cast<std::uint64_t>(info.st_size);
    status.modified = info.st_mtime;
    status.mode = static_cast<int>(info.st_mode & 07777);
    status.regularFile = S_ISREG(info.st_mode);
    return true;
}
