#pragma once

#include "common/SignatureVerifier.h"
#include "download/HttpSession.h"
#include "download/ParallelDownload.h"
#include "update/InstallWriter.h"
#include "update/LocalManifest.h"
#include "update/RemoteManifest.h"

#include <wx/arrstr.h>
#include <wx/string.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class Cancellation;
class ProgressNotifier;
class TelemetryClient;
class WorkerThread;
class wxInputStream;

// Result of the last download step (UpdateEngine::GetLastError).
enum DownloadError : int {
    ERROR_NONE = 0,
    ERROR_MALFORMED_URL = 5,
    ERROR_DOWNLOAD = 6, // network, stream or checksum: worth retrying
    ERROR_WRITE = 7,
};

// The largest forward gap between two wanted files of one archive that is
// skipped by reading rather than by a new request.
inline constexpr std::uint32_t GAP_THRESHOLD = 0x3000;

// Record name -> record; the name comparison is exact and case-sensitive.
using ManifestMap = std::map<wxString, ManifestFileInfo*>;
// Records to download, in download order; the records belong to a manifest.
using FileList = std::list<ManifestFileInfo*>;

// Brings an installation up to date with the update server's current release:
// the version files, both manifests and their name maps, the list of files to
// fetch, and the check and update that run on a worker thread each.
//
// One worker at a time touches the manifests and lists. The engine owns its
// worker and waits for it when destroyed, so it always outlives its threads;
// the notifier and the telemetry client must outlive the engine.
class UpdateEngine {
public:
    // Works on the installation in baseDir; reads its version file at once.
    explicit UpdateEngine(const wxString& baseDir);
    ~UpdateEngine();
    UpdateEngine(const UpdateEngine&) = delete;
    UpdateEngine& operator=(const UpdateEngine&) = delete;

    void SetProgressNotifier(ProgressNotifier* notifier);
    void SetTelemetry(TelemetryClient* client) { telemetry = client; }
    void SetBaseUrl(const wxString& url);
    void SetLanguageCode(const wxString& code) { languageCode = code; }
    // How many connections the download opens to the server at once.
    void SetMaxConnections(int count) { maxConnections = count; }
    // How long the version query keeps retrying a server that does not
    // answer before the check gives up; 0 retries until stopped.
    void SetRemoteVersionWait(int seconds) { remoteVersionWait = seconds; }
    // With the publisher's key, a release is taken only when its manifest's
    // signature verifies; without one (the default), as it comes.
    void SetReleaseKey(std::optional<SignatureVerifier> key) { releaseKey = key; }
    // Makes each check hash every installed file and fetch those that differ
    // from the release, even when the installed version is current.
    void SetFullCheck(bool full) { fullCheck = full; }
    wxString GetLocalVersion() const { return localVersion; }
    bool IsLocalVersionValid() const;
    wxString GetRemoteVersion() const { return remoteVersion; }
    int GetLastError() const { return lastError; }

    void ReadLocalVersion();
    // False when the file could not be written.
    bool WriteLocalVersion();
    // Asks the update server for its current release until it answers, a stop
    // is asked or the wait runs out; true when it answered.
    bool ReadRemoteVersion();
    // True when the last version query gave up on a server that did not answer.
    bool RemoteVersionTimedOut() const { return remoteVersionTimedOut; }
    // True when the last check refused a release that the publisher did not sign.
    bool ReleaseRefused() const { return remoteManifest.result == MANIFEST_NOT_SIGNED; }
    // Whether the installed release differs from the one the server named.
    bool IsNewVersion() const;
    bool IsRemoteVersionValid() const;

    bool LoadRemoteManifest();
    void UpdateRemoteMap();

    // Start the check or the update on the engine's worker thread, after the
    // previous worker has ended.
    void StartChecker();
    void StartUpdater();
    // Asks the running worker to end after its current step.
    void Stop();
    // True while a worker thread has not yet finished.
    bool IsWorking() const;

    void Check();
    FileList CompareManifests() const;
    FileList FindMissingFiles();
    bool HasMissingFiles() const;
    const FileList& GetMismatches() const { return mismatches; }

    // Hashes the installed files whose manifest names match pattern (a name
    // whose last component may hold wildcards) and hands the names of those
    // that differ from their records to the telemetry client. Waits for the
    // worker first, since it shares the manifest.
    void FindChanges(const wxString& pattern);

    bool UpdateLocalManifest();
    bool CreateLocalManifest();
    void CleanLocalManifest();
    void UpdateLocalMap();

    // Installs the records of list in order, removing each installed one.
    bool DownloadFiles(FileList& list);
    void RunUpdate();

    LocalManifest& GetLocalManifest() { return localManifest; }
    RemoteManifest& GetRemoteManifest() { return remoteManifest; }

private:
    wxString VersionFilePath() const;
    bool EndIfStopped();
    void EndWithoutRelease(const wxString& status);
    // Loads the release's manifest; when it cannot be had, ends the check and
    // returns false.
    bool DownloadReleaseManifest();
    // Ends a check whose release manifest was refused or could not be read.
    void EndWithoutManifest();
    bool ReloadLocalManifest();
    // The obsolete data file a dropped record may name, or empty.
    wxString ObsoleteFilePath(const wxString& name) const;
    wxString ArchiveUrl(const wxString& archive) const;
    std::vector<ParallelDownload::Run> PlanRuns(const FileList& list) const;
    static bool ContinuesRun(const ManifestFileInfo& previous, std::uint32_t position,
                             const ManifestFileInfo& record);
    bool OpenRun(ParallelDownload& download, const ParallelDownload::Run& run, wxInputStream*& body);
    bool ReadFiles(FileList& list, InstallWriter& writer);
    bool InstallFrom(wxInputStream& body, const ManifestFileInfo& record, InstallWriter& writer);
    bool InstallFile(const ManifestFileInfo& record, wxInputStream& input, std::uint64_t limit,
                     InstallWriter& writer);
    bool RecordOutcomes(FileList& list, const std::vector<InstallWriter::Outcome>& outcomes);
    void RecordInstalledFile(const ManifestFileInfo& record, const platform::FileStatus& status,
                             const wxString& digest);
    bool IsInPlace(const ManifestFileInfo& record) const;
    bool IsFileMissing(const wxString& name) const;
    std::uint64_t SpaceNeeded(const FileList& list) const;
    bool HasRoomFor(const FileList& list);
    void FinishUpdate();
    wxString AnnounceStop();
    void EndStopped(const wxString& result);
    void SendFinished(const wxString& result);
    void ReportChanges(const wxArrayString* changed);
    // Sleeps whole seconds, cut short by a stop request.
    void Pause(int seconds) const;
    bool IsStopRequested() const;
    // The stop as every request of the workers watches it.
    const Cancellation* TransferCancellation() const;
    void StartWorker(std::function<void()> job, const char* failure);
    void WaitForWorker();

    wxString baseDir;
    // The check's requests to the update server, one after another.
    HttpSession serverSession;
    LocalManifest localManifest;
    ManifestMap localMap;
    RemoteManifest remoteManifest;
    ManifestMap remoteMap;
    FileList mismatches;
    int lastError = ERROR_NONE;
    wxString languageCode = "draft";
    bool fullCheck = false;
    wxString baseUrl = "http://127.0.0.1/download/test/";
    wxString localVersion;
    wxString remoteVersion;
    int remoteVersionWait = 0;
    bool remoteVersionTimedOut = false;
    std::optional<SignatureVerifier> releaseKey;
    // The signed manifest that this check has verified and loaded, so that it
    // is fetched once.
    wxString verifiedManifestUrl;
    ProgressNotifier* notifier = nullptr;
    TelemetryClient* telemetry = nullptr;
    int maxConnections = 4;
    // Whether the server answers several ranges in one request; cleared for
    // good by the first answer that shows otherwise.
    std::atomic<bool> multiRange{true};
    std::unique_ptr<WorkerThread> worker;
    // The file whose download was corrupt in the last DownloadFiles, or empty.
    wxString corruptFile;
};
