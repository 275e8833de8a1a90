#include "telemetry/TelemetryClient.h"

#include "common/MD5.h"
#include "download/HTTPWrapper.h"
#include "platform/AtomicFile.h"

#include <uuid/uuid.h>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/txtstrm.h>
#include <wx/wfstream.h>

#include <algorithm>
#include <chrono>
#include <string>

namespace {

// How long events still queued at exit may take before they are dropped.
constexpr auto EXIT_GRACE = std::chrono::seconds(2);
// Bounds how long a wait for the token takes to see its stop.
constexpr auto WAIT_SLICE = std::chrono::milliseconds(100);

// A random UUID in its 36-character lowercase form.
wxString NewIdentifier()
{
    uuid_t id;
    uuid_generate_random(id);
    char text[37];
    uuid_unparse_lower(id, text);
    return wxString::FromAscii(text);
}

// The identifier in workDir/client.id, created there on the first run.
wxString LoadClientId(const wxString& workDir)
{
    const wxString path = wxFileName(workDir, "client.id").GetFullPath();
    if (wxFileName::IsFileReadable(path)) {
        wxFileInputStream file(path);
        wxTextInputStream text(file, " \t", wxConvAuto());
        const wxString id = text.ReadLine().Strip(wxString::both);
        wxLogVerbose("Client ID: %s", id);
        return id;
    }
    const wxString id = NewIdentifier();
    wxLogMessage("Could not find client ID, creating one: %s", id);
    platform::WriteFileAtomically(path, std::string(id.utf8_str()));
    return id;
}

} // namespace

TelemetryClient::TelemetryClient(const wxString& workDir)
    : clientId(LoadClientId(workDir)), sessionId(NewIdentifier()), eventSender([this] { SendQueuedEvents(); })
{
    if (!eventSender.Start())
        wxLogError("Error starting telemetry thread.");
}

TelemetryClient::~TelemetryClient()
{
    FinishEvents();
}

void TelemetryClient::SetSecret(const wxString& text)
{
    std::lock_guard lock(mutex);
    secret = text;
}

void TelemetryClient::SetServiceUrl(const wxString& url)
{
    std::lock_guard lock(mutex);
    serviceUrl = url;
}

void TelemetryClient::SetVersion(const wxString& text)
{
    std::lock_guard lock(mutex);
    version = text;
}

void TelemetryClient::SetChanges(const wxArrayString* list)
{
    const wxString joined = list == nullptr || list->empty() ? wxString("ERROR") : wxJoin(*list, ',', 0);
    std::lock_guard lock(mutex);
    changes = joined;
}

wxString TelemetryClient::GetServiceUrl() const
{
    std::lock_guard lock(mutex);
    return serviceUrl;
}

TelemetryClient::Request TelemetryClient::MakeRequest(const wxString& action, const wxString& result) const
{
    std::lock_guard lock(mutex);
    return {action, result, serviceUrl, version, changes};
}

void TelemetryClient::SendEvent(const wxString& action, const wxString& result)
{
    const Request event = MakeRequest(action, result);
    {
        std::lock_guard lock(mutex);
        queue.push_back(event);
    }
    queueChanged.notify_all();
}

std::optional<TelemetryClient::Upload> TelemetryClient::PrepareUpload(const Cancellation& stop)
{
    Request upload = MakeRequest("send_file");
    upload.tokenOnly = true;
    {
        std::unique_lock lock(mutex);
        if (!hasToken && !WaitForToken(lock, upload, stop))
            return std::nullopt;
    }
    return Upload{upload.serviceUrl, AuthenticatedParameters(upload)};
}

bool TelemetryClient::WaitForToken(std::unique_lock<std::mutex>& lock, const Request& upload,
                                   const Cancellation& stop)
{
    const std::uint64_t ticket = handled + queue.size();
    queue.push_back(upload);
    queueChanged.notify_all();
    while (handled <= ticket) {
        if (stop.IsRequested() || closing.IsRequested())
            return false;
        queueChanged.wait_for(lock, WAIT_SLICE);
    }
    return hasToken;
}

bool TelemetryClient::HasOrFetchToken(const Request& request)
{
    {
        std::lock_guard lock(mutex);
        if (hasToken)
            return true;
    }
    return FetchToken(request);
}

bool TelemetryClient::FetchToken(const Request& request)
{
    wxLogVerbose("Requesting authentication token.");
    const ParameterMap parameters = IdentityParameters(request, "get_token");
    wxString answer;
    if (!FetchFirstLine(answer, request.serviceUrl, {.params = &parameters, .cancellation = &closing})) {
        wxLogError("Error requesting token.");
        return false;
    }
    const wxString challenge = answer.Strip(wxString::both);
    wxLogVerbose("Received auth challenge: %s", challenge);
    std::lock_guard lock(mutex);
    authToken = StringMD5(challenge + secret);
    hasToken = true;
    return true;
}

void TelemetryClient::SendQueuedEvents()
{
    std::unique_lock lock(mutex);
    for (;;) {
        queueChanged.wait(lock, [this] { return closing.IsRequested() || !queue.empty(); });
        if (closing.IsRequested())
            return;
        const Request request = queue.front();
        lock.unlock();
        if (request.tokenOnly)
            HasOrFetchToken(request);
        else
            SendQueuedEvent(request);
        lock.lock();
        // Removed only once dealt with, so an empty queue means that everything went out.
        queue.pop_front();
        ++handled;
        queueChanged.notify_all();
    }
}

void TelemetryClient::SendQueuedEvent(const Request& event)
{
    if (!HasOrFetchToken(event)) {
        wxLogWarning("Could not send event %s - %s", event.action, event.result);
        return;
    }
    ParameterMap parameters = AuthenticatedParameters(event);
    if (!event.result.empty())
        parameters["updater_result"] = event.result;
    wxString answer;
    if (FetchFirstLine(answer, event.serviceUrl, {.params = &parameters, .cancellation = &closing}))
        wxLogVerbose("Event result: %s", answer.Strip(wxString::both));
    else
        wxLogError("Error sending event %s - %s", event.action, event.result);
}

void TelemetryClient::FinishEvents()
{
    std::ptrdiff_t dropped = 0;
    {
        std::unique_lock lock(mutex);
        if (!queueChanged.wait_for(lock, EXIT_GRACE, [this] { return queue.empty(); }))
            dropped =
                std::count_if(queue.begin(), queue.end(), [](const Request& r) { return !r.tokenOnly; });
        closing.Request();
    }
    queueChanged.notify_all();
    if (dropped > 0)
        wxLogWarning("Dropped %d telemetry events that were not sent before exit.",
                     static_cast<int>(dropped));
    eventSender.Join();
}

ParameterMap TelemetryClient::IdentityParameters(const Request& request, const wxString& action) const
{
    return {{"GUID", clientId}, {"SESSID", sessionId}, {"VERSION", request.version}, {"action", action}};
}

ParameterMap TelemetryClient::AuthenticatedParameters(const Request& request) const
{
    ParameterMap parameters = IdentityParameters(request, request.action);
    if (!request.changes.empty())
        parameters["changes"] = request.changes;
    std::lock_guard lock(mutex);
    parameters["auth"] = authToken;
    return parameters;
}
