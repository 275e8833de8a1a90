#pragma once

#include "common/Cancellation.h"
#include "download/ParameterMap.h"

#include <wx/arrstr.h>
#include <wx/event.h>
#include <wx/string.h>

#include <memory>
#include <mutex>

class WorkerThread;

// The launcher's link to the telemetry service: the player's persistent client
// identifier (the file "client.id"), an identifier of this run, the service's
// token, the events and the upload of the log files.
//
// Requests may come from any thread and block their caller; one lock serialises
// them, together with the settings they send, so that requests never overlap.
// The identifiers are fixed at construction and may be read without waiting.
class TelemetryClient {
public:
    // owner receives wxEVT_LOG_UPLOAD_DONE and must outlive the client; workDir
    // holds "client.id".
    TelemetryClient(wxEvtHandler* owner, const wxString& workDir);
    // Stops a running upload and waits until its thread has ended.
    ~TelemetryClient();
    TelemetryClient(const TelemetryClient&) = delete;
    TelemetryClient& operator=(const TelemetryClient&) = delete;

    void SetSecret(const wxString& text);
    void SetServiceUrl(const wxString& url);
    void SetVersion(const wxString& text);
    // The changed game libraries, sent as "changes"; no list or an empty one sends "ERROR".
    void SetChanges(const wxArrayString* list);
    void AddLogFile(const wxString& path);

    wxString GetClientId() const { return clientId; }
    wxString GetSessionId() const { return sessionId; }

    // Asks the service for a challenge and derives the token from it and the secret.
    bool RequestToken();
    // Sends an event, fetching the token first if this run has none yet. An
    // event that cannot be sent is logged and lost.
    void SendEvent(const wxString& action, const wxString& result = wxString());

    // Packs the log files into a temporary zip and posts it on a thread of its
    // own; wxEVT_LOG_UPLOAD_DONE tells the owner the outcome (0 or -1).
    void StartLogUpload();
    bool IsUploading() const;
    // Returns at once: the upload thread ends soon after, quietly, posting nothing.
    void StopLogUpload();

    // The upload thread's work.
    void RunLogUpload();
    bool PrepareLogArchive();
    bool UploadLogArchive();

private:
    bool RequestTokenLocked();
    // GUID, SESSID, VERSION and action: what every request carries.
    ParameterMap IdentityParameters(const wxString& action) const;
    // The identity with auth and, when known, changes: what events and uploads carry.
    ParameterMap AuthenticatedParameters(const wxString& action) const;
    wxString LockedServiceUrl();
    wxArrayString LockedLogFiles();
    void RemoveArchive();
    void FinishLogUpload(int result);
    void WaitForUploadThread();

    wxEvtHandler* const owner;
    const wxString clientId;
    const wxString sessionId;

    // Held across each whole request; guards every field below up to authToken.
    std::mutex requestMutex;
    wxString version;
    wxString serviceUrl;
    wxString changes;
    wxArrayString logFiles;
    wxString secret;
    bool hasToken = false;
    wxString authToken;

    // Touched by the upload thread only.
    wxString archivePath;

    // Guards uploader, so that the end of the upload and a stop never cross.
    mutable std::mutex uploadMutex;
    WorkerThread* uploader = nullptr; // the running upload, null once it ended or was stopped
    Cancellation uploadStop;
    // The last upload thread started, kept until it has been joined (main thread only).
    std::unique_ptr<WorkerThread> uploadThread;
};

// Posts a multipart form to url: one text part per parameter, in map order,
// then the file at filePath as the part fieldName. Names, values and the URL
// go out in their ASCII form (every character above 127 becomes '_'). True
// when the transfer completed, whatever the status of the answer; a requested
// stop (may be null) aborts the transfer.
bool PostFile(const wxString& url, const wxString& fieldName, const wxString& filePath,
              const ParameterMap& parameters, const Cancellation* stop = nullptr);
