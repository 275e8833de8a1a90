#include "platform/DirectoryListing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

bool IsRegularFile(DIR* dir, const dirent& entry)
{
    if (entry.d_type == DT_REG)
        return true;
    if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN)
        return false;
    // Not every file system tells the type, and a link counts as what it names.
    struct stat status;
    return fstatat(dirfd(dir), entry.d_name, &status, 0) == 0 && S_ISREG(status.st_mode);
}

} // namespace

bool platform::ListRegularFiles(const wxString& directory, std::unordered_set<std::string>& names)
{
    DIR* dir = opendir(directory.fn_str());
    if (dir == nullptr)
        return false;
    while (const dirent* entry = readdir(dir)) {
        if (IsRegularFile(dir, *entry))
            names.insert(entry->d_name);
    }
    closedir(dir);
    return true;
}

std::string platform::NativeName(const wxString& name)
{
    const wchar_t* characters = name.wc_str();
    std::string native(name.length(), '\0');
    for (std::size_t at = 0; at < native.size(); ++at) {
        // Most names are plain ASCII, which every encoding spells alike.
        if (characters[at] >= 0x80)
            return std::string(name.fn_str());
        native[at] = static_cast<char>(characters[at]);
    }
    return native;
}
