#pragma once

#include <wx/string.h>

#include <span>

namespace platform {

// Bytes of the resource of that name and type stored in the running executable; empty when there is none.
std::span<const unsigned char> LoadResourceData(const wxString& name, const wxString& type);

} // namespace platform
