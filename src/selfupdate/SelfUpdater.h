#pragma once

#include "common/Cancellation.h"
#include "common/SignatureVerifier.h"
#include "common/WorkerThread.h"

#include <wx/filefn.h>
#include <wx/string.h>

#include <cstdint>
#include <optional>

class ProgressNotifier;
class wxInputStream;

// Result of a self-update, posted as wxEVT_SELF_UPDATE_DONE's integer.
enum SelfUpdateResult : int {
    SELF_UPDATE_DOWNLOADED = 5, // a newer launcher waits in the target file
    SELF_UPDATE_NOT_NEEDED = 6, // none newer, versions not comparable, or stopped during the check
    SELF_UPDATE_FAILED = 7,     // stopped while the download was failing, or not started at all
};

// Asks the update server for the current launcher version and, when it is
// newer than the running one, downloads that launcher into the target file,
// retrying failures until it succeeds or is stopped. Runs on a worker thread
// of its own that reports through the notifier; the notifier must outlive
// this object, which stops and waits for its thread when destroyed.
class SelfUpdater {
public:
    // targetFile: full path of the downloaded launcher (SelfUpdateFilePath).
    // With releaseKey, a launcher is kept only when the server's signature of
    // it together with its version verifies; the signature is kept beside it.
    // The download stops at the size the server announced, at the free space
    // and at MAX_LAUNCHER_BYTES.
    SelfUpdater(ProgressNotifier* notifier, const wxString& currentVersion, const wxString& languageCode,
                const wxString& baseUrl, const wxString& targetFile,
                std::optional<SignatureVerifier> releaseKey);
    ~SelfUpdater();
    SelfUpdater(const SelfUpdater&) = delete;
    SelfUpdater& operator=(const SelfUpdater&) = delete;

    // Starts the thread; false when the system refused one.
    bool Start();
    // Asks the thread to end: a pause ends at once, a request within about
    // 0.1 s. Safe from any thread.
    void Stop();
    void Join() { worker.Join(); }
    bool IsRunning() const { return worker.IsRunning(); }

    // True when the server names a newer launcher; asks until it answers or a stop.
    bool CheckForNewVersion();
    // One download of the server's launcher: SELF_UPDATE_DOWNLOADED or SELF_UPDATE_FAILED.
    int DownloadLauncher();

    // The most a launcher build may take; launchers are a few megabytes.
    static constexpr std::uint64_t MAX_LAUNCHER_BYTES = 256u << 20;

private:
    void Entry();
    bool FetchRemoteVersion(const wxString& url);
    int DownloadWithRetries();
    // The most bytes a body of the announced length (-1 for unknown) may bring; none when it cannot fit.
    std::optional<std::uint64_t> DownloadLimit(wxFileOffset announced) const;
    bool SaveLauncher(wxInputStream& body, wxInputStream& bounded, const wxString& url);
    bool KeepSignature(const wxString& url, const wxString& launcher);
    // Waits whole seconds; false when a stop came first.
    bool Pause(int seconds);

    ProgressNotifier* notifier;
    wxString currentVersion;
    wxString languageCode;
    wxString baseUrl;
    wxString targetFile;
    wxString remoteVersion;
    std::optional<SignatureVerifier> releaseKey;
    // The last download was not signed by the publisher, or too large: retrying cannot help.
    bool refused = false;

    // Seen by every request and pause of the thread.
    Cancellation cancellation;

    WorkerThread worker;
};
