#pragma once

#include "update/Manifest.h"

#include <wx/string.h>

#include <cstdint>

class FileDownload;
class InstalledFiles;
class VersionFile;
struct UpdateContext;

// The update of an installation to the release that the check found: it
// refuses an update that the disk cannot hold, downloads the files with
// retries while the network fails, and records the outcome in the version
// file, the local manifest, the telemetry service and the front end, which
// gets wxEVT_UPDATE_FINISHED or wxEVT_UPDATE_STOPPED.
class ManifestUpdater {
public:
    // All must outlive the updater.
    ManifestUpdater(const UpdateContext& context, VersionFile& versionFile, InstalledFiles& installed);

    // Brings the installation to remoteVersion by installing the records of
    // mismatches, which keeps those not installed.
    void RunUpdate(FileList& mismatches, const wxString& remoteVersion);
    // Why the last update stopped (a DownloadError).
    int GetLastError() const { return lastError; }
    // The files that the last update installed from patches, and the archive bytes those saved.
    int PatchedFiles() const { return patchedFiles; }
    std::uint64_t SavedBytes() const { return savedBytes; }

private:
    // Refuses, before a byte is written, an update that the disk cannot hold.
    bool HasRoomFor(const FileList& list);
    // Downloads until the files are in, the failure is not the network's, a
    // stop, or a file that stays corrupt; false unless the files are in.
    bool DownloadWithRetries(FileList& mismatches);
    // Sets the gauge to the whole update with what is no longer in left done.
    void ShowProgress(const FileList& left);
    void CountDown(int seconds);
    static wxString RepeatableFailure(const FileDownload& download);
    // Ends the retries of a failure that keeps coming back; false.
    bool GiveUp(const FileDownload& download);
    void FinishUpdate(FileList& mismatches, const wxString& remoteVersion);
    void EndStopped(const wxString& result);

    const UpdateContext& context;
    VersionFile& versionFile;
    InstalledFiles& installed;
    int lastError = 0;
    int patchedFiles = 0;
    std::uint64_t savedBytes = 0;
    // Compressed bytes of every file that this update set out to fetch.
    std::int64_t wholeDownload = 0;
};

// Logs and shows why an update stopped with lastError (a DownloadError);
// returns the telemetry service's word for it.
wxString AnnounceStop(const UpdateContext& context, int lastError);
