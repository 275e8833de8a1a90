#pragma once

#include "common/Cancellation.h"
#include "common/WorkerThread.h"

#include <wx/arrstr.h>
#include <wx/string.h>

#include <memory>
#include <mutex>

class TelemetryClient;
class wxEvtHandler;

// Sends the log files to the telemetry service: packs them into a temporary
// zip and posts it, with the client's identity and token, on a thread of its
// own, one upload at a time. One short lock guards the files and whether an
// upload runs.
class AsyncLogUploader {
public:
    // owner receives wxEVT_LOG_UPLOAD_DONE; it and client must outlive the uploader.
    AsyncLogUploader(wxEvtHandler* owner, TelemetryClient& client);
    // Stops a running upload and waits for its thread.
    ~AsyncLogUploader();
    AsyncLogUploader(const AsyncLogUploader&) = delete;
    AsyncLogUploader& operator=(const AsyncLogUploader&) = delete;

    void AddLogFile(const wxString& path);

    // Uploads the files added so far unless an upload runs; wxEVT_LOG_UPLOAD_DONE
    // tells the owner the outcome (0 or -1). The archive is removed either way.
    void StartLogUpload();
    bool IsUploading() const;
    // Returns at once: the upload's thread ends soon after, quietly, posting nothing.
    void StopLogUpload();

private:
    // The upload thread's work.
    void Run();
    bool Pack(const wxArrayString& files, const wxString& archive) const;
    bool Post(const wxString& archive);
    void Finish(int result);

    wxEvtHandler* const owner;
    TelemetryClient& client;

    // Guards logFiles and uploading.
    mutable std::mutex mutex;
    wxArrayString logFiles;
    bool uploading = false; // false once the upload ended or was stopped
    Cancellation stop;
    // The last upload thread started, kept until it has been joined (owner's thread only).
    std::unique_ptr<WorkerThread> thread;
};
