#include "update/ManifestFileInfo.h"

#include <wx/filefn.h>

#include <algorithm>
#include <utility>

namespace {

const wxString MANIFEST_SEPARATOR = "\\";
const wxString PATH_SEPARATOR = wxString(wxFILE_SEP_PATH);
constexpr std::string_view WHITE_SPACE = " \t\n\v\f\r";

} // namespace

ManifestFileInfo::ManifestFileInfo(const wxString& name, std::int64_t timestamp, const wxString& checksum,
                                   std::uint32_t size)
    : name(name), permission(0), timestamp(timestamp), checksum(checksum), offset(0), size(size),
      compressed(false), compressed_size(0)
{
}

ManifestFileInfo::ManifestFileInfo(const wxString& name, const wxString& source_zip, std::int32_t permission,
                                   const wxString& checksum, std::uint32_t offset, bool compressed,
                                   std::uint32_t compressed_size)
    : name(name), source_zip(source_zip), permission(permission), timestamp(0), checksum(checksum),
      offset(offset), size(0), compressed(compressed), compressed_size(compressed_size)
{
}

bool ManifestFileInfo::UsePatchFrom(const wxString& digest)
{
    if (patchInUse >= 0 || size == 0)
        return false;
    for (std::size_t index = 0; index < patches.size(); ++index) {
        if (patches[index].from.IsSameAs(digest, false)) {
            patchInUse = static_cast<int>(index);
            SwapWithPatch();
            return true;
        }
    }
    return false;
}

void ManifestFileInfo::UseMember()
{
    if (patchInUse < 0)
        return;
    SwapWithPatch();
    patchInUse = -1;
}

void ManifestFileInfo::SwapWithPatch()
{
    FilePatch& patch = patches[patchInUse];
    std::swap(source_zip, patch.source_zip);
    std::swap(offset, patch.offset);
    std::swap(compressed_size, patch.compressed_size);
    std::swap(compressed, patch.compressed);
}

wxString ManifestNameToPath(const wxString& name)
{
    wxString path(name);
    path.Replace(MANIFEST_SEPARATOR, PATH_SEPARATOR);
    return path;
}

wxString PathToManifestName(const wxString& path)
{
    wxString name(path);
    name.Replace(PATH_SEPARATOR, MANIFEST_SEPARATOR);
    return name;
}

std::int32_t ParseInt32(std::string_view text, int base)
{
    auto it = text.begin();
    while (it != text.end() && WHITE_SPACE.find(*it) != std::string_view::npos)
        ++it;
    bool negative = false;
    if (it != text.end() && (*it == '+' || *it == '-')) {
        negative = *it == '-';
        ++it;
    }
    const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT32_MIN) : INT32_MAX;
    std::int64_t magnitude = 0;
    for (; it != text.end(); ++it) {
        const std::int64_t digit = static_cast<std::int64_t>(*it) - '0';
        if (digit < 0 || digit >= base)
            break;
        magnitude = std::min(magnitude * base + digit, limit);
    }
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}
