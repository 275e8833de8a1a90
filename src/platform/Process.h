#pragma once

#include <wx/string.h>

#include <vector>

namespace platform {

// Starts the program argv[0] with the arguments argv, without a shell and
// without waiting for it. It inherits no open file but the standard ones, so
// it never holds this process's locks. Its process id, or 0 when it could not start.
long StartDetached(const std::vector<wxString>& argv);

// True when path names the file this process runs from.
bool IsRunningExecutable(const wxString& path);

} // namespace platform
