#pragma once

#include <wx/string.h>

#include <string>
#include <unordered_set>

namespace platform {

// The names of the regular files in directory (symbolic links to one
// included), as the file system spells them; false when it cannot be read.
// One pass over the directory, however many files it holds.
bool ListRegularFiles(const wxString& directory, std::unordered_set<std::string>& names);

// A file name as the file system spells it.
std::string NativeName(const wxString& name);

} // namespace platform
