#pragma once

#include "common/SignatureVerifier.h"
#include "download/TransferGate.h"
#include "update/FileDownload.h"
#include "update/InstalledFiles.h"
#include "update/ManifestChecker.h"
#include "update/ManifestUpdater.h"
#include "update/UpdateContext.h"
#include "update/VersionFile.h"

#include <wx/string.h>

#include <atomic>
#include <memory>
#include <optional>

class ProgressNotifier;
class TelemetryClient;
class WorkerThread;

// Brings an installation up to date with the update server's current release:
// what a front end talks to. It owns the installation's version file and
// files, and runs the check and the update, each on a worker thread of the
// engine's, one at a time; they report through the notifier.
//
// The engine waits for its worker when destroyed, so it always outlives its
// threads; the notifier and the telemetry client must outlive the engine.
class UpdateEngine {
public:
    // Works on the installation in baseDir; reads its version file at once.
    explicit UpdateEngine(const wxString& baseDir);
    ~UpdateEngine();
    UpdateEngine(const UpdateEngine&) = delete;
    UpdateEngine& operator=(const UpdateEngine&) = delete;

    void SetProgressNotifier(ProgressNotifier* notifier);
    void SetTelemetry(TelemetryClient* client) { context.telemetry = client; }
    void SetBaseUrl(const wxString& url);
    void SetLanguageCode(const wxString& code) { context.languageCode = code; }
    // How many connections the download opens to the server at once.
    void SetMaxConnections(int count) { context.maxConnections = count; }
    // How long the version query keeps retrying a server that does not
    // answer before the check gives up; 0 retries until stopped.
    void SetRemoteVersionWait(int seconds) { context.remoteVersionWait = seconds; }
    // With the publisher's key, a release is taken only when its manifest's
    // signature verifies; without one (the default), as it comes.
    void SetReleaseKey(std::optional<SignatureVerifier> key) { context.releaseKey = key; }
    // Makes each check hash every installed file and fetch those that differ
    // from the release, even when the installed version is current.
    void SetFullCheck(bool full) { context.fullCheck = full; }
    // Caps the download, all connections together, in KiB/s; 0 lifts the
    // cap. Running transfers take it at once.
    void SetMaxDownloadRate(int kibPerSecond);
    // Holds the download's transfers where they are, keeping what arrived,
    // until resumed; the status line says so meanwhile.
    void SetPaused(bool paused);
    bool IsPaused() const { return gate.IsPaused(); }

    wxString GetLocalVersion() const { return versionFile.GetLocalVersion(); }
    bool IsLocalVersionValid() const { return versionFile.IsLocalVersionValid(); }
    // Why the last check or update stopped (a DownloadError).
    int GetLastError() const;
    // True when the last check gave up on a server that did not answer.
    bool RemoteVersionTimedOut() const { return checker.RemoteVersionTimedOut(); }
    // True when the last check refused a release that the publisher did not sign.
    bool ReleaseRefused() const { return checker.ReleaseRefused(); }
    const RemoteManifest& GetRemoteManifest() const { return checker.GetRemoteManifest(); }
    // The files that the last check found to fetch and the update has not installed.
    const FileList& GetMismatches() const { return checker.GetMismatches(); }
    // The files that the last update installed from patches, and the archive bytes those saved.
    int PatchedFiles() const { return updater.PatchedFiles(); }
    std::uint64_t PatchSavedBytes() const { return updater.SavedBytes(); }

    // Start the check or the update on the engine's worker thread, after the
    // previous worker has ended.
    void StartChecker();
    void StartUpdater();
    // Asks the running worker to end after its current step.
    void Stop();
    // True while a worker thread has not yet finished.
    bool IsWorking() const;
    // The check and the update on the calling thread, as the worker runs them.
    void Check();
    void RunUpdate();

    // Hashes the installed files whose manifest names match pattern (a name
    // whose last component may hold wildcards) and hands the names of those
    // that differ from their records to the telemetry client. Waits for the
    // worker first, since it shares the manifest.
    void FindChanges(const wxString& pattern);

private:
    void StartWorker(std::function<void()> job, const char* failure);
    void WaitForWorker();

    TransferGate gate;
    UpdateContext context;
    VersionFile versionFile;
    InstalledFiles installed;
    ManifestChecker checker;
    ManifestUpdater updater;
    // Whose last error counts: the check's or the update's.
    std::atomic<bool> updateRanLast{false};
    std::unique_ptr<WorkerThread> worker;
};
