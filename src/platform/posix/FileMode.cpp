#include "platform/FileMode.h"

#include <sys/stat.h>

bool platform::SetFileMode(const wxString& path, int mode)
{
    return chmod(path.fn_str(), static_cast<mode_t>(mode)) == 0;
}
