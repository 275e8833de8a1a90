#pragma once

#include "common/Cancellation.h"
#include "common/WorkerThread.h"
#include "download/ParameterMap.h"

#include <wx/arrstr.h>
#include <wx/event.h>
#include <wx/string.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

// The launcher's link to the telemetry service: the player's persistent client
// identifier (the file "client.id"), an identifier of this run, the service's
// token, the events and the upload of the log files.
//
// Telemetry never holds up the work: events queue and go out in order on a
// thread of the client's own, and the upload has a thread of its own too.
// One short lock guards the settings, the token and the queue, and is never
// held across a request; only the token request is kept from overlapping
// itself. The identifiers are fixed at construction and may be read without
// waiting.
class TelemetryClient {
public:
    // owner receives wxEVT_LOG_UPLOAD_DONE and must outlive the client; workDir
    // holds "client.id".
    TelemetryClient(wxEvtHandler* owner, const wxString& workDir);
    // Gives queued events a short grace, then drops what is left and cancels
    // the request in progress; stops a running upload; waits for both threads.
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

    // Asks the service for a challenge and derives the token from it and the
    // secret. Blocks its caller.
    bool RequestToken();
    // Queues an event with the service URL, version and changes of this
    // moment and returns at once. The telemetry thread sends it after those
    // queued before, fetching the token first if this run has none yet. An
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
    // A request as it was asked for: the settings it sends are those of the
    // moment it was made or queued.
    struct Request {
        wxString action;
        wxString result;
        wxString serviceUrl;
        wxString version;
        wxString changes;
    };

    Request MakeRequest(const wxString& action, const wxString& result = wxString()) const;
    // The token for request, fetched unless this run has one.
    bool HasOrFetchToken(const Request& request);
    bool FetchToken(const Request& request);
    // GUID, SESSID, VERSION and action: what every request carries.
    ParameterMap IdentityParameters(const Request& request, const wxString& action) const;
    // The identity with auth and, when known, changes: what events and uploads carry.
    ParameterMap AuthenticatedParameters(const Request& request) const;

    // The telemetry thread's work.
    void SendQueuedEvents();
    void SendQueuedEvent(const Request& event);
    // The grace for queued events at destruction, then the end of the thread.
    void FinishEvents();

    wxArrayString LockedLogFiles();
    void RemoveArchive();
    void FinishLogUpload(int result);
    void WaitForUploadThread();

    wxEvtHandler* const owner;
    const wxString clientId;
    const wxString sessionId;

    // Guards the settings, the token and the queue; held only for moments.
    mutable std::mutex mutex;
    wxString version;
    wxString serviceUrl;
    wxString changes;
    wxArrayString logFiles;
    wxString secret;
    bool hasToken = false;
    wxString authToken;
    // Events not yet sent, the one being sent first.
    std::deque<Request> queuedEvents;
    // Requested at destruction, under the lock so that the telemetry thread
    // cannot miss it: requests in progress are cancelled, new ones fail.
    Cancellation closing;
    std::condition_variable eventsChanged;

    // Held across a token request, so that threads that need the token fetch it once.
    std::mutex tokenMutex;
    WorkerThread eventSender;

    // Touched by the upload thread only.
    wxString archivePath;

    // Guards uploader, so that the end of the upload and a stop never cross.
    mutable std::mutex uploadMutex;
    WorkerThread* uploader = nullptr; // the running upload, null once it ended or was stopped
    Cancellation uploadStop;
    // The last upload thread started, kept until it has been joined (main thread only).
    std::unique_ptr<WorkerThread> uploadThread;
};
