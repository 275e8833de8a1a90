#include "telemetry/TelemetryClient.h"

#include "common/MD5.h"
#include "common/WorkerThread.h"
#include "download/HTTPWrapper.h"
#include "download/PostFile.h"
#include "platform/AtomicFile.h"
#include "progress/LauncherEvents.h"

#include <uuid/uuid.h>
#include <wx/datetime.h>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/txtstrm.h>
#include <wx/wfstream.h>
#include <wx/zipstrm.h>

#include <chrono>
#include <memory>
#include <string>

namespace {

// The service refuses archives of 1 GiB or more.
constexpr wxULongLong_t MAX_UPLOAD_BYTES = 1073741824;
// How long events still queued at exit may take before they are dropped.
constexpr auto EXIT_GRACE = std::chrono::seconds(2);

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

// Adds the file as an entry named without its directory; false when it cannot be read.
bool AddToArchive(wxZipOutputStream& zip, const wxString& path)
{
    if (!wxFileName::IsFileReadable(path)) {
        return false;
    }
    wxFileInputStream input(path);
    if (!input.IsOk()) {
        return false;
    }
    const wxString name = wxFileName(path).GetFullName();
    wxLogVerbose("log file found: %s", name);
    zip.PutNextEntry(name, wxDateTime::Now());
    zip.Write(input);
    return true;
}

} // namespace

TelemetryClient::TelemetryClient(wxEvtHandler* owner, const wxString& workDir)
    : owner(owner), clientId(LoadClientId(workDir)), sessionId(NewIdentifier()),
      eventSender([this] { SendQueuedEvents(); })
{
    if (!eventSender.Start())
        wxLogError("Error starting telemetry thread.");
}

TelemetryClient::~TelemetryClient()
{
    StopLogUpload();
    FinishEvents();
    WaitForUploadThread();
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

void TelemetryClient::AddLogFile(const wxString& path)
{
    std::lock_guard lock(mutex);
    logFiles.push_back(path);
}

TelemetryClient::Request TelemetryClient::MakeRequest(const wxString& action, const wxString& result) const
{
    std::lock_guard lock(mutex);
    return {action, result, serviceUrl, version, changes};
}

bool TelemetryClient::RequestToken()
{
    std::lock_guard exchange(tokenMutex);
    return FetchToken(MakeRequest("get_token"));
}

bool TelemetryClient::HasOrFetchToken(const Request& request)
{
    std::lock_guard exchange(tokenMutex);
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
        std::lock_guard lock(mutex);
        hasToken = false;
        return false;
    }
    const wxString challenge = answer.Strip(wxString::both);
    wxLogVerbose("Received auth challenge: %s", challenge);
    std::lock_guard lock(mutex);
    authToken = StringMD5(challenge + secret);
    hasToken = true;
    return true;
}

void TelemetryClient::SendEvent(const wxString& action, const wxString& result)
{
    const Request event = MakeRequest(action, result);
    {
        std::lock_guard lock(mutex);
        queuedEvents.push_back(event);
    }
    eventsChanged.notify_all();
}

void TelemetryClient::SendQueuedEvents()
{
    std::unique_lock lock(mutex);
    for (;;) {
        eventsChanged.wait(lock, [this] { return closing.IsRequested() || !queuedEvents.empty(); });
        if (closing.IsRequested())
            return;
        const Request event = queuedEvents.front();
        lock.unlock();
        SendQueuedEvent(event);
        lock.lock();
        // Removed only once sent, so an empty queue means that everything went out.
        queuedEvents.pop_front();
        eventsChanged.notify_all();
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
    std::size_t dropped = 0;
    {
        std::unique_lock lock(mutex);
        if (!eventsChanged.wait_for(lock, EXIT_GRACE, [this] { return queuedEvents.empty(); }))
            dropped = queuedEvents.size();
        closing.Request();
    }
    eventsChanged.notify_all();
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

void TelemetryClient::StartLogUpload()
{
    // One upload at a time: a second start while one runs has nothing new to send.
    if (IsUploading()) {
        return;
    }
    WaitForUploadThread();
    uploadStop.Clear();
    auto thread = std::make_unique<WorkerThread>([this] { RunLogUpload(); });
    {
        std::lock_guard lock(uploadMutex);
        uploader = thread.get();
    }
    if (!thread->Start()) {
        wxLogError("Error starting log upload.");
        std::lock_guard lock(uploadMutex);
        uploader = nullptr;
        return;
    }
    uploadThread = std::move(thread);
}

bool TelemetryClient::IsUploading() const
{
    std::lock_guard lock(uploadMutex);
    return uploader != nullptr;
}

void TelemetryClient::StopLogUpload()
{
    std::lock_guard lock(uploadMutex);
    if (uploader == nullptr) {
        return;
    }
    wxLogVerbose("Stopping upload thread.");
    uploadStop.Request();
    uploader = nullptr;
}

void TelemetryClient::RunLogUpload()
{
    wxLogMessage("Log file upload, using %s", MakeRequest("send_file").serviceUrl);
    int result = 0;
    if (PrepareLogArchive()) {
        result = UploadLogArchive() ? 0 : -1;
    } else {
        wxLogVerbose("No log file found, skipping upload.");
    }
    RemoveArchive();
    FinishLogUpload(result);
}

bool TelemetryClient::PrepareLogArchive()
{
    const wxArrayString files = LockedLogFiles();
    if (files.empty()) {
        return false;
    }
    archivePath = wxFileName::CreateTempFileName("log");
    if (archivePath.empty()) {
        return false;
    }
    wxFileOutputStream file(archivePath);
    wxZipOutputStream zip(file);
    int packed = 0;
    for (const wxString& path : files) {
        if (uploadStop.IsRequested()) {
            break;
        }
        if (AddToArchive(zip, path)) {
            ++packed;
        }
    }
    zip.Close();
    file.Close();
    return packed > 0;
}

bool TelemetryClient::UploadLogArchive()
{
    const Request upload = MakeRequest("send_file");
    if (uploadStop.IsRequested() || !HasOrFetchToken(upload)) {
        return false;
    }
    const wxULongLong size = wxFileName::GetSize(archivePath);
    wxLogVerbose("Upload file size: %s", size.ToString());
    if (size >= MAX_UPLOAD_BYTES) {
        wxLogWarning("Could not upload logs, file size is too big.");
        return false;
    }
    wxLogVerbose("Starting upload.");
    const bool ok =
        PostFile(upload.serviceUrl, "logfile", archivePath, AuthenticatedParameters(upload), &uploadStop);
    if (ok) {
        wxLogVerbose("Log uploaded successfully.");
    } else if (!uploadStop.IsRequested()) {
        wxLogError("Error uploading logs to %s", upload.serviceUrl);
    }
    return ok;
}

wxArrayString TelemetryClient::LockedLogFiles()
{
    std::lock_guard lock(mutex);
    return logFiles;
}

void TelemetryClient::RemoveArchive()
{
    if (!archivePath.empty()) {
        wxRemoveFile(archivePath);
        archivePath.clear();
    }
}

void TelemetryClient::FinishLogUpload(int result)
{
    // Under the lock a stop either comes first and silences the event, or finds the upload over.
    std::lock_guard lock(uploadMutex);
    if (!uploadStop.IsRequested() && owner != nullptr) {
        wxThreadEvent event(wxEVT_LOG_UPLOAD_DONE);
        event.SetInt(result);
        owner->AddPendingEvent(event);
    }
    uploader = nullptr;
}

void TelemetryClient::WaitForUploadThread()
{
    if (uploadThread) {
        uploadThread->Join();
        uploadThread.reset();
    }
}
