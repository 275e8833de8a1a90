#pragma once

#include <wx/string.h>

namespace platform {

// Gives the file at path the permission bits of mode (as chmod takes them);
// false when the system refuses.
bool SetFileMode(const wxString& path, int mode);

} // namespace platform
