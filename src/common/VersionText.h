#pragma once

#include <wx/string.h>

// True for text that can be a release's version as the update server names
// it: 1 to 64 ASCII letters, digits, '.', '-', '_' or '+'. The version becomes
// part of file names and URLs, so anything else (white space, separators,
// query or fragment marks, control characters) is refused. "invalid_remote"
// passes.
bool LooksLikeVersion(const wxString& text);

// True when remote names a newer launcher than current. Versions are numbers
// joined by dots, compared number by number; versions that cannot be compared
// (other counts of numbers, other characters) are logged and count as not newer.
bool IsNewerVersion(const wxString& current, const wxString& remote);
