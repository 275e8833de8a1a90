#include "telemetry/TelemetryClient.h"

#include "common/MD5.h"
#include "common/WorkerThread.h"
#include "download/HTTPWrapper.h"
#include "platform/AtomicFile.h"
#include "progress/LauncherEvents.h"

#include <curl/curl.h>
#include <uuid/uuid.h>
#include <wx/datetime.h>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/txtstrm.h>
#include <wx/wfstream.h>
#include <wx/zipstrm.h>

#include <memory>
#include <string>

namespace {

// The service refuses archives of 1 GiB or more.
constexpr wxULongLong_t MAX_UPLOAD_BYTES = 1073741824;

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

int AbortWhenStopped(void* stop, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<const Cancellation*>(stop)->IsRequested() ? 1 : 0;
}

// The launcher never shows the service's answer to an upload.
size_t DiscardAnswer(char*, size_t size, size_t count, void*)
{
    return size * count;
}

} // namespace

TelemetryClient::TelemetryClient(wxEvtHandler* owner, const wxString& workDir)
    : owner(owner), clientId(LoadClientId(workDir)), sessionId(NewIdentifier())
{
}

TelemetryClient::~TelemetryClient()
{
    StopLogUpload();
    WaitForUploadThread();
}

void TelemetryClient::SetSecret(const wxString& text)
{
    std::lock_guard lock(requestMutex);
    secret = text;
}

void TelemetryClient::SetServiceUrl(const wxString& url)
{
    std::lock_guard lock(requestMutex);
    serviceUrl = url;
}

void TelemetryClient::SetVersion(const wxString& text)
{
    std::lock_guard lock(requestMutex);
    version = text;
}

void TelemetryClient::SetChanges(const wxArrayString* list)
{
    const wxString joined = list == nullptr || list->empty() ? wxString("ERROR") : wxJoin(*list, ',', 0);
    std::lock_guard lock(requestMutex);
    changes = joined;
}

void TelemetryClient::AddLogFile(const wxString& path)
{
    std::lock_guard lock(requestMutex);
    logFiles.push_back(path);
}

bool TelemetryClient::RequestToken()
{
    std::lock_guard lock(requestMutex);
    return RequestTokenLocked();
}

bool TelemetryClient::RequestTokenLocked()
{
    wxLogVerbose("Requesting authentication token.");
    const ParameterMap parameters = IdentityParameters("get_token");
    wxString answer;
    if (!FetchFirstLine(answer, serviceUrl, &parameters)) {
        wxLogError("Error requesting token.");
        hasToken = false;
        return false;
    }
    const wxString challenge = answer.Strip(wxString::both);
    wxLogVerbose("Received auth challenge: %s", challenge);
    authToken = StringMD5(challenge + secret);
    hasToken = true;
    return true;
}

void TelemetryClient::SendEvent(const wxString& action, const wxString& result)
{
    std::lock_guard lock(requestMutex);
    if (!hasToken && !RequestTokenLocked()) {
        wxLogWarning("Could not send event %s - %s", action, result);
        return;
    }
    ParameterMap parameters = AuthenticatedParameters(action);
    if (!result.empty()) {
        parameters["updater_result"] = result;
    }
    wxString answer;
    if (FetchFirstLine(answer, serviceUrl, &parameters)) {
        wxLogVerbose("Event result: %s", answer.Strip(wxString::both));
    } else {
        wxLogError("Error sending event %s - %s", action, result);
    }
}

ParameterMap TelemetryClient::IdentityParameters(const wxString& action) const
{
    return {{"GUID", clientId}, {"SESSID", sessionId}, {"VERSION", version}, {"action", action}};
}

ParameterMap TelemetryClient::AuthenticatedParameters(const wxString& action) const
{
    ParameterMap parameters = IdentityParameters(action);
    parameters["auth"] = authToken;
    if (!changes.empty()) {
        parameters["changes"] = changes;
    }
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
    wxLogMessage("Log file upload, using %s", LockedServiceUrl());
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
    std::lock_guard lock(requestMutex);
    if (uploadStop.IsRequested() || (!hasToken && !RequestTokenLocked())) {
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
        PostFile(serviceUrl, "logfile", archivePath, AuthenticatedParameters("send_file"), &uploadStop);
    if (ok) {
        wxLogVerbose("Log uploaded successfully.");
    } else if (!uploadStop.IsRequested()) {
        wxLogError("Error uploading logs to %s", serviceUrl);
    }
    return ok;
}

wxString TelemetryClient::LockedServiceUrl()
{
    std::lock_guard lock(requestMutex);
    return serviceUrl;
}

wxArrayString TelemetryClient::LockedLogFiles()
{
    std::lock_guard lock(requestMutex);
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

bool PostFile(const wxString& url, const wxString& fieldName, const wxString& filePath,
              const ParameterMap& parameters, const Cancellation* stop)
{
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl) {
        wxLogError("Error initializing curl session.");
        return false;
    }
    std::unique_ptr<curl_mime, decltype(&curl_mime_free)> form(curl_mime_init(curl.get()), &curl_mime_free);
    for (const auto& [name, value] : parameters) {
        curl_mimepart* part = curl_mime_addpart(form.get());
        curl_mime_name(part, name.ToAscii());
        curl_mime_data(part, value.ToAscii(), CURL_ZERO_TERMINATED);
    }
    // The path in the file system's own bytes: an ASCII form would name another file.
    curl_mimepart* file = curl_mime_addpart(form.get());
    curl_mime_name(file, fieldName.ToAscii());
    curl_mime_filedata(file, filePath.fn_str());

    curl_easy_setopt(curl.get(), CURLOPT_URL, static_cast<const char*>(url.ToAscii()));
    curl_easy_setopt(curl.get(), CURLOPT_MIMEPOST, form.get());
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &DiscardAnswer);
    // Like every other request of the launcher: no proxy from the environment, no signals.
    curl_easy_setopt(curl.get(), CURLOPT_PROXY, "");
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    if (stop != nullptr) {
        curl_easy_setopt(curl.get(), CURLOPT_XFERINFOFUNCTION, &AbortWhenStopped);
        curl_easy_setopt(curl.get(), CURLOPT_XFERINFODATA, const_cast<Cancellation*>(stop));
        curl_easy_setopt(curl.get(), CURLOPT_NOPROGRESS, 0L);
    }
    const CURLcode result = curl_easy_perform(curl.get());
    curl.reset(); // the form must outlive the handle that sends it
    return result == CURLE_OK;
}
