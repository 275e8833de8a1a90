#pragma once

#include <wx/string.h>

#include <string>

namespace platform {

// Replaces the file at path with bytes so that a crash or a full disk leaves
// either the old file or the new one, never a truncated mix: the bytes go to a
// temporary file in the same directory, are flushed to disk, and the temporary
// file is renamed over the old one. Logs an error and returns false on failure;
// the old file is then untouched and no temporary file is left behind.
bool WriteFileAtomically(const wxString& path, const std::string& bytes);

} // namespace platform
