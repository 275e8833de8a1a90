#include "platform/FileStatus.h"

#include "platform/posix/StatStatus.h"

bool platform::GetFileStatus(const wxString& path, FileStatus& status)
{
    struct stat info;
    if (stat(path.fn_str(), &info) != 0)
        return false;
    status = StatStatus(info);
    return true;
}
