#include "platform/DiskSpace.h"

#include <sys/statvfs.h>

bool platform::GetFreeDiskSpace(const wxString& path, std::uint64_t& bytes)
{
    struct statvfs info;
    if (statvfs(path.fn_str(), &info) != 0)
        return false;
    bytes = static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
    return true;
}
