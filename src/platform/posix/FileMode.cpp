#include "platform/FileMode.h"

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>

bool platform::SetFileMode(const wxString& path, int mode)
{
    // A link planted at the name must not carry the change to its target.
    return fchmodat(AT_FDCWD, path.fn_str(), static_cast<mode_t>(mode), AT_SYMLINK_NOFOLLOW) == 0;
}

int platform::FileCreationMask()
{
    // Read, not set and restored: a file another thread made in between
    // would get no mask at all.
    std::ifstream status("/proc/self/status");
    std::string field;
    while (status >> field) {
        if (field == "Umask:") {
            std::string mask;
            status >> mask;
            return static_cast<int>(std::strtol(mask.c_str(), nullptr, 8));
        }
    }
    return 022;
}
