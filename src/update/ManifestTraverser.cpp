#include "update/ManifestTraverser.h"

#include "platform/FileStatus.h"
#include "update/LocalManifest.h"

#include <wx/log.h>

ManifestTraverser::ManifestTraverser(LocalManifest* manifest)
    : manifest(manifest), baseLength(manifest->GetDirectory().length())
{
    FirstVisit(manifest->GetDirectory());
}

wxDirTraverseResult ManifestTraverser::OnFile(const wxString& path)
{
    // The walk reports full paths that start with the base directory. A
    // backslash marks a temporary file of ours: no installed file has one.
    const wxString relative = path.Mid(baseLength);
    if (relative.Contains("\\"))
        return wxDIR_CONTINUE;
    const wxString name = PathToManifestName(relative);
    wxLogVerbose("Found %s", name);
    manifest->push_back(ManifestFileInfo(name, 0, wxEmptyString, 0));
    return wxDIR_CONTINUE;
}

wxDirTraverseResult ManifestTraverser::OnDir(const wxString& path)
{
    return FirstVisit(path) ? wxDIR_CONTINUE : wxDIR_IGNORE;
}

bool ManifestTraverser::FirstVisit(const wxString& directory)
{
    platform::FileStatus status;
    // One that cannot be queried cannot be opened either; the walk skips it then.
    if (!platform::GetFileStatus(directory, status))
        return true;
    return visited.insert({status.device, status.inode}).second;
}
