#pragma once

#include <wx/string.h>

#include <cstdint>

namespace platform {

// Bytes that an unprivileged program may still write on the file system that
// holds path; false when the system does not say.
bool GetFreeDiskSpace(const wxString& path, std::uint64_t& bytes);

} // namespace platform
