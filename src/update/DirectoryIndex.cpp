#include "update/DirectoryIndex.h"

#include "platform/DirectoryListing.h"
#include "update/LocalManifest.h"

#include <wx/filefn.h>

bool DirectoryIndex::Exists(const wxString& name)
{
    const wxString path = manifest.FullPath(name);
    const std::size_t separator = path.find_last_of(wxFILE_SEP_PATH);
    const wxString directory = path.substr(0, separator);
    auto listing = listings.find(directory);
    if (listing == listings.end()) {
        listing = listings.emplace(directory, std::unordered_set<std::string>()).first;
        // A directory that cannot be read lists nothing: its files count as missing.
        platform::ListRegularFiles(directory, listing->second);
    }
    return listing->second.count(platform::NativeName(path.substr(separator + 1))) != 0;
}
