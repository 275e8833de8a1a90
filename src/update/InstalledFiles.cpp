#include "update/InstalledFiles.h"

#include "common/MD5.h"
#include "platform/FileMode.h"
#include "progress/ProgressNotifier.h"
#include "update/DirectoryIndex.h"

#include <wx/dir.h>
#include <wx/filename.h>
#include <wx/intl.h>
#include <wx/log.h>

#include <algorithm>

InstalledFiles::InstalledFiles(const wxString& baseDir)
    : localManifest(baseDir, "manifest2.xml"), creationMask(platform::FileCreationMask())
{
}

ManifestFileInfo* InstalledFiles::Find(const wxString& name) const
{
    const auto found = localMap.find(name);
    return found == localMap.end() ? nullptr : found->second;
}

bool InstalledFiles::ReloadLocalManifest()
{
    localMap.clear();
    localManifest.clear();
    return localManifest.LoadDefault();
}

bool InstalledFiles::UpdateLocalManifest(ProgressNotifier& notifier, bool rehashAll)
{
    if (!ReloadLocalManifest()) {
        wxLogWarning("Local manifest not found. Creating from scratch.");
        notifier.SetStatus(_("New version found. Searching for files..."));
        notifier.Pulse();
        if (!CreateLocalManifest()) {
            wxLogError("Error creating manifest.");
            return false;
        }
    }
    if (rehashAll) {
        // Without a checksum every file is hashed, whatever its size and time.
        for (ManifestFileInfo& record : localManifest)
            record.checksum.clear();
    }
    wxLogInfo("Checking local changes.");
    notifier.SetStatus(_("New version found. Checking local changes..."));
    notifier.SetRange(static_cast<int>(localManifest.size()));
    const bool changed = localManifest.CheckLocalChanges(&notifier);
    wxLogVerbose("Manifest updated.");
    if (changed)
        localManifest.SaveDefault();
    wxLogVerbose("Updating local map.");
    UpdateLocalMap();
    wxLogVerbose("Local map updated.");
    notifier.Complete();
    return changed;
}

bool InstalledFiles::CreateLocalManifest()
{
    if (!localManifest.empty()) {
        wxLogWarning("Tried to recreate manifest but it is not empty.");
        return false;
    }
    localManifest.Scan();
    wxLogVerbose("Saving manifest.");
    if (!localManifest.SaveDefault())
        return false;
    UpdateLocalMap();
    wxLogVerbose("Manifest saved.");
    return true;
}

void InstalledFiles::CleanLocalManifest(const ManifestMap& remoteMap)
{
    wxLogVerbose("Local manifest size before clean: %d", static_cast<int>(localManifest.size()));
    bool removed = false;
    for (auto record = localManifest.begin(); record != localManifest.end();) {
        if (remoteMap.count(record->name) != 0) {
            ++record;
            continue;
        }
        removed = true;
        const wxString path = ObsoleteFilePath(record->name);
        if (!RemoveIfInTheWay(record->name, remoteMap) && !path.empty()) {
            wxLogMessage("Deleting local file: %s", path);
            wxRemoveFile(path);
        }
        wxLogMessage("Removing from local manifest: %s", record->name);
        record = localManifest.erase(record);
    }
    if (removed) {
        UpdateLocalMap();
        localManifest.SaveDefault();
    }
    wxLogVerbose("Local manifest size after clean: %d", static_cast<int>(localManifest.size()));
}

// A file of the old release where the new one has a folder, or inside a
// folder where the new one has a file, would fail every write of the new one.
// Files the release never held stay, and so does their folder: that write
// fails as it did.
bool InstalledFiles::RemoveIfInTheWay(const wxString& name, const ManifestMap& remoteMap) const
{
    // A record that leaves its folder could lead anywhere.
    if (("\\" + name + "\\").Contains("\\..\\"))
        return false;
    const wxString folder = name + "\\";
    const auto next = remoteMap.lower_bound(folder);
    const bool becameFolder = next != remoteMap.end() && next->first.StartsWith(folder);
    wxString above = name.BeforeLast('\\');
    while (!above.empty() && remoteMap.count(above) == 0)
        above = above.BeforeLast('\\');
    if (!becameFolder && above.empty())
        return false;
    const wxString path = FullPath(name);
    wxLogMessage("Deleting local file: %s", path);
    wxRemoveFile(path);
    if (above.empty())
        return true;
    // The folder that became a file goes once the last of its release files has gone.
    wxLogNull quiet;
    for (wxString inside = name.BeforeLast('\\'); inside.length() >= above.length();
         inside = inside.BeforeLast('\\')) {
        if (!wxRmdir(FullPath(inside)))
            break;
    }
    return true;
}

// Only the game's data files are deleted, and only inside the installation:
// ".." and a leading separator are dropped before the name is joined to it.
wxString InstalledFiles::ObsoleteFilePath(const wxString& name) const
{
    wxString relative(name);
    relative.Replace("..", "");
    if (relative.StartsWith("\\") || relative.StartsWith("/"))
        relative.erase(0, 1);
    const wxFileName file(localManifest.GetDirectory() + ManifestNameToPath(relative));
    const wxString extension = file.GetExt();
    if ((extension != "res" && extension != "unity3d") || !file.FileExists())
        return wxString();
    return file.GetFullPath();
}

void InstalledFiles::UpdateLocalMap()
{
    wxLogVerbose("Updating local map.");
    localMap.clear();
    for (ManifestFileInfo& record : localManifest)
        localMap[record.name] = &record;
}

bool InstalledFiles::IsFileMissing(const wxString& name) const
{
    platform::FileStatus status;
    return !platform::GetFileStatus(FullPath(name), status) || !status.regularFile;
}

bool InstalledFiles::HasMissingFiles() const
{
    DirectoryIndex present(localManifest);
    return std::any_of(localManifest.begin(), localManifest.end(),
                       [&present](const ManifestFileInfo& record) { return !present.Exists(record.name); });
}

bool InstalledFiles::IsInPlace(const ManifestFileInfo& record) const
{
    const wxString path = FullPath(record.name);
    platform::FileStatus status;
    if (!platform::GetFileStatus(path, status) || !status.regularFile)
        return false;
    const int mode = FileMode(record, status.mode);
    if (status.mode != mode) {
        wxLogMessage("Setting the permission bits of %s to %o.", record.name, mode);
        if (!platform::SetFileMode(path, mode))
            wxLogWarning("Could not change the permission bits of %s.", path);
    }
    return true;
}

int InstalledFiles::FileMode(const ManifestFileInfo& record) const
{
    platform::FileStatus status;
    const bool present = platform::GetFileStatus(FullPath(record.name), status) && status.regularFile;
    return FileMode(record, present ? status.mode : 0777);
}

// A game executable keeps its execute bits; other bits a release cannot set,
// nor can it let anyone but the player change the game.
int InstalledFiles::FileMode(const ManifestFileInfo& record, int existing) const
{
    const int release = record.permission > 0 ? (record.permission & 0777) : 0644;
    const int readable = existing & 0444;
    return release & ~022 & ~creationMask & (existing | (readable >> 2));
}

void InstalledFiles::RecordInstalledFile(const ManifestFileInfo& record, const platform::FileStatus& status,
                                         const wxString& digest)
{
    if (ManifestFileInfo* local = Find(record.name)) {
        wxLogVerbose("Updating manifest entry for %s", record.name);
        local->timestamp = status.modified;
        local->checksum = digest;
        local->size = static_cast<std::uint32_t>(status.size);
        return;
    }
    wxLogVerbose("Adding %s to manifest.", record.name);
    localManifest.push_back(
        ManifestFileInfo(record.name, status.modified, digest, static_cast<std::uint32_t>(status.size)));
}

bool InstalledFiles::RefreshAll()
{
    if (localManifest.empty() && !localManifest.LoadDefault()) {
        wxLogWarning("FindChanges: Could not read manifest during file check. Will try to recreate one");
        if (!CreateLocalManifest()) {
            wxLogError("Something went wrong while creating manifest.");
            return false;
        }
    }
    localManifest.CheckLocalChanges(nullptr);
    if (!localManifest.SaveDefault())
        wxLogError("Error writing manifest.");
    UpdateLocalMap();
    return true;
}

std::optional<wxArrayString> InstalledFiles::ChangedFiles(const wxString& pattern) const
{
    const wxString folder = pattern.BeforeLast('\\');
    const wxString folderPath = localManifest.GetDirectory() + ManifestNameToPath(folder);
    wxDir dir;
    wxString fileName;
    if (!wxDir::Exists(folderPath) || !dir.Open(folderPath) ||
        !dir.GetFirst(&fileName, pattern.AfterLast('\\'), wxDIR_FILES)) {
        wxLogVerbose("No files found matching pattern %s", pattern);
        return std::nullopt;
    }
    wxArrayString changed;
    do {
        const wxString name = folder.empty() ? fileName : folder + "\\" + fileName;
        const ManifestFileInfo* record = Find(name);
        if (record == nullptr)
            continue;
        const wxString digest = FileMD5(FullPath(name));
        if (digest != record->checksum) {
            wxLogVerbose("File: %s, expected MD5: %s, found MD5: %s", name, record->checksum, digest);
            changed.push_back(name);
        }
    } while (dir.GetNext(&fileName));
    return changed;
}
