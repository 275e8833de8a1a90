#pragma once

#include <wx/string.h>

#include <cstdint>

namespace platform {

// What one metadata query tells about a file system object.
struct FileStatus {
    std::uint64_t device = 0;
    std::uint64_t inode = 0; // with device, tells whether two paths name the same object
    std::uint64_t size = 0;
    std::int64_t modified = 0; // whole seconds since 1970-01-01 UTC
    int mode = 0;              // permission bits, as chmod takes them
    bool regularFile = false;
};

// Fills status from one query of path, following symbolic links; false when nothing can be found there.
bool GetFileStatus(const wxString& path, FileStatus& status);

} // namespace platform
