#pragma once

#include <wx/dir.h>

#include <cstddef>
#include <cstdint>
#include <set>
#include <utility>

class LocalManifest;

// Walks a local manifest's base directory and appends a fresh record (no time,
// size or checksum yet) for every file found.
class ManifestTraverser : public wxDirTraverser {
public:
    explicit ManifestTraverser(LocalManifest* manifest);

    wxDirTraverseResult OnFile(const wxString& path) override;
    wxDirTraverseResult OnDir(const wxString& path) override;

private:
    // Device and inode of a directory.
    using DirectoryId = std::pair<std::uint64_t, std::uint64_t>;

    bool FirstVisit(const wxString& directory);

    LocalManifest* manifest;
    std::size_t baseLength;
    // The toolkit follows symbolic links, so a link back up the tree would
    // otherwise be walked again and again.
    std::set<DirectoryId> visited;
};
