#pragma once

#include <wx/string.h>

namespace platform {

// Gives the file at path the permission bits of mode (as chmod takes them);
// false when the system refuses, or path names a symbolic link.
bool SetFileMode(const wxString& path, int mode);

// The bits that the process's umask takes from the files it creates.
int FileCreationMask();

} // namespace platform
