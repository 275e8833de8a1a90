#pragma once

#include "platform/FileStatus.h"
#include "update/LocalManifest.h"

#include <wx/arrstr.h>
#include <wx/string.h>

#include <optional>

class ProgressNotifier;

// The installation's files as its local manifest records them, with the map
// from their names to their records, kept in step with the disk: brought up
// to date before a release is compared with it, cleaned of what the release
// no longer holds, and told of every file the update installs.
class InstalledFiles {
public:
    explicit InstalledFiles(const wxString& baseDir);

    LocalManifest& GetLocalManifest() { return localManifest; }
    // The record of that name as the map last saw it, or null.
    ManifestFileInfo* Find(const wxString& name) const;
    // Where the file of a record name lies.
    wxString FullPath(const wxString& name) const { return localManifest.FullPath(name); }

    // Reads the manifest file afresh, with an empty map: a second check in
    // one run must not stack a second copy of every record onto the first.
    bool ReloadLocalManifest();
    // Loads the manifest (rebuilt from the disk when it cannot be read) and
    // brings it up to date with the files, hashing those whose size or time
    // changed, or every one with rehashAll; saves it when a record changed.
    // True when one did. notifier shows the work and may stop it.
    bool UpdateLocalManifest(ProgressNotifier& notifier, bool rehashAll);
    bool CreateLocalManifest();
    // Drops the records that the release's map does not hold, deleting the
    // obsolete data files among them and the files in the way of the
    // release's (a file where it has a folder, a folder where it has a file).
    void CleanLocalManifest(const ManifestMap& remoteMap);
    void UpdateLocalMap();

    // True when the file of a record is not a regular file on disk.
    bool IsFileMissing(const wxString& name) const;
    bool HasMissingFiles() const;
    // True when the file of a release record is on disk, which then gets
    // FileMode's permission bits.
    bool IsInPlace(const ManifestFileInfo& record) const;
    // The permission bits that the file of a release record gets: the
    // record's, less the umask's, never writable by group or others, and none
    // that the player took from the file on disk, though a file may run
    // wherever it may be read.
    int FileMode(const ManifestFileInfo& record) const;

    // Updates the record of an installed file, or adds one.
    void RecordInstalledFile(const ManifestFileInfo& record, const platform::FileStatus& status,
                             const wxString& digest);

    // Brings every record up to date with the disk and saves the manifest;
    // false when there is no manifest and none could be made.
    bool RefreshAll();
    // The names of the files matching pattern (a record name whose last
    // component may hold wildcards) whose digest differs from their record;
    // nothing when no file matches.
    std::optional<wxArrayString> ChangedFiles(const wxString& pattern) const;

private:
    // Deletes the file of a dropped record when it is in the way of the release's files; true if it was.
    bool RemoveIfInTheWay(const wxString& name, const ManifestMap& remoteMap) const;
    // FileMode for a file whose bits on disk are existing.
    int FileMode(const ManifestFileInfo& record, int existing) const;
    // The obsolete data file a dropped record may name, or empty.
    wxString ObsoleteFilePath(const wxString& name) const;

    LocalManifest localManifest;
    ManifestMap localMap;
    int creationMask;
};
