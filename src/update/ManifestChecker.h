#pragma once

#include "download/HttpSession.h"
#include "update/Manifest.h"
#include "update/RemoteManifest.h"

#include <wx/string.h>

class InstalledFiles;
class VersionFile;
class VersionQuery;
struct UpdateContext;

// The update check: asks the update server which release is current, reads
// its manifest, brings the local manifest up to date with the disk and lists
// the files to fetch, in download order. It ends in one of four ways, each
// told to the front end: up to date (wxEVT_NO_CHANGES_FOUND), files to fetch
// (wxEVT_START_UPDATE, "invalid" in the version file), no release or no
// manifest (wxEVT_DISABLE_PLAY), or stopped (nothing posted).
class ManifestChecker {
public:
    // All must outlive the checker.
    ManifestChecker(const UpdateContext& context, VersionFile& versionFile, InstalledFiles& installed);

    void Check();

    // The release as the server named it at the last check; empty before.
    const wxString& GetRemoteVersion() const { return remoteVersion; }
    const RemoteManifest& GetRemoteManifest() const { return remoteManifest; }
    // The records that the last check found to fetch, in download order.
    FileList& GetMismatches() { return mismatches; }
    const FileList& GetMismatches() const { return mismatches; }
    // True when the last version query gave up on a server that did not answer.
    bool RemoteVersionTimedOut() const { return remoteVersionTimedOut; }
    // True when the last check refused a release that the publisher did not sign, whose signed
    // manifest names another version or an older one than the installed, or refused every release
    // for a release key that cannot be used.
    bool ReleaseRefused() const { return remoteManifest.result == MANIFEST_NOT_SIGNED || !refusal.empty(); }
    // ERROR_WRITE when the last check could not mark the update as begun.
    int GetLastError() const { return lastError; }

private:
    // Asks the update server for its current release until it answers, a stop
    // is asked or the wait runs out; true when it named one. An answer that
    // no retry changes ends it at once, with remoteVersionRefusal set.
    bool ReadRemoteVersion();
    // Logs what a failed query got; true, with the status to show set, when
    // asking again would not change it.
    bool GiveUpOn(const VersionQuery& query, const wxString& url);
    bool IsNewVersion() const;
    bool IsRemoteVersionValid() const;
    // Looks for files of the installed release that are gone; false when the
    // check ended on the way.
    bool FindMissingFilesOfThisRelease();
    // Marks the update as begun in the version file; false, having ended the
    // check, when it cannot.
    bool MarkUpdateBegun();
    bool LoadRemoteManifest();
    // True when the signed manifest names the version line's release and that
    // release is not older than the installed one, or is signed as a rollback.
    bool TakesSignedVersion();
    bool IsRollback() const;
    // Ends the check at once when the release key cannot be used.
    bool EndIfKeyUnusable();
    void UpdateRemoteMap();
    // Loads the release's manifest; when it cannot be had, ends the check and
    // returns false.
    bool DownloadReleaseManifest();
    FileList CompareManifests() const;
    FileList FindMissingFiles();

    bool EndIfStopped();
    void EndWithoutRelease(const wxString& status);
    // Ends a check whose release manifest was refused or could not be read.
    void EndWithoutManifest();
    void EndUpToDate(const wxString& status);

    const UpdateContext& context;
    VersionFile& versionFile;
    InstalledFiles& installed;
    // The check's requests to the update server, one after another.
    HttpSession serverSession;
    RemoteManifest remoteManifest;
    ManifestMap remoteMap;
    FileList mismatches;
    wxString remoteVersion;
    bool remoteVersionTimedOut = false;
    // Why the last version query ended without retrying, as the player reads it; empty otherwise.
    wxString remoteVersionRefusal;
    // Why the last check refused a signed release or every release, as the player reads it; empty otherwise.
    wxString refusal;
    // The signed manifest that this check has verified and loaded, so that it
    // is fetched once.
    wxString verifiedManifestUrl;
    int lastError = 0;
};
