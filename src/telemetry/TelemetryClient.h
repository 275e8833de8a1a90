#pragma once

#include "common/Cancellation.h"
#include "common/WorkerThread.h"
#include "download/ParameterMap.h"

#include <wx/arrstr.h>
#include <wx/string.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

// The launcher's link to the telemetry service: the player's persistent client
// identifier (the file "client.id"), an identifier of this run, the service's
// token and the events.
//
// Telemetry never holds up the work: events queue and go out in order on a
// thread of the client's own, which is also the only one to fetch the token,
// so that a run fetches it once. One short lock guards the settings, the token
// and the queue, and is never held across a request. The identifiers are
// fixed at construction and may be read without waiting.
class TelemetryClient {
public:
    // What an upload of the log files posts, and where.
    struct Upload {
        wxString serviceUrl;
        ParameterMap fields;
    };

    // workDir holds "client.id".
    explicit TelemetryClient(const wxString& workDir);
    // Gives queued events a short grace, then drops what is left and cancels
    // the request in progress; waits for the thread.
    ~TelemetryClient();
    TelemetryClient(const TelemetryClient&) = delete;
    TelemetryClient& operator=(const TelemetryClient&) = delete;

    void SetSecret(const wxString& text);
    void SetServiceUrl(const wxString& url);
    void SetVersion(const wxString& text);
    // The changed game libraries, sent as "changes"; no list or an empty one sends "ERROR".
    void SetChanges(const wxArrayString* list);

    wxString GetClientId() const { return clientId; }
    wxString GetSessionId() const { return sessionId; }
    wxString GetServiceUrl() const;

    // Queues an event with the service URL, version and changes of this
    // moment and returns at once. The telemetry thread sends it after those
    // queued before, fetching the token first if this run has none yet. An
    // event that cannot be sent is logged and lost.
    void SendEvent(const wxString& action, const wxString& result = wxString());

    // The form of an upload ("send_file") with the settings of this moment and
    // the token. Without a token yet, the telemetry thread fetches it after
    // the events queued before while the caller waits; none when that fails
    // or stop comes first.
    std::optional<Upload> PrepareUpload(const Cancellation& stop);

private:
    // A request as it was asked for: the settings it sends are those of the
    // moment it was made or queued.
    struct Request {
        wxString action;
        wxString result;
        wxString serviceUrl;
        wxString version;
        wxString changes;
        // An upload's wait for the token rather than an event.
        bool tokenOnly = false;
    };

    Request MakeRequest(const wxString& action, const wxString& result = wxString()) const;
    // Queues the token's fetch for upload and waits until the thread has dealt
    // with it; whether the run has a token then.
    bool WaitForToken(std::unique_lock<std::mutex>& lock, const Request& upload, const Cancellation& stop);
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

    const wxString clientId;
    const wxString sessionId;

    // Guards the settings, the token and the queue; held only for moments.
    mutable std::mutex mutex;
    wxString version;
    wxString serviceUrl;
    wxString changes;
    wxString secret;
    bool hasToken = false;
    wxString authToken;
    // Requests not yet dealt with, the one in progress first, and how many
    // have been dealt with before them.
    std::deque<Request> queue;
    std::uint64_t handled = 0;
    // Requested at destruction, under the lock so that the telemetry thread
    // cannot miss it: requests in progress are cancelled, new ones fail.
    Cancellation closing;
    std::condition_variable queueChanged;

    WorkerThread eventSender;
};
