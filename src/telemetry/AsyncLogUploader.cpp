#include "telemetry/AsyncLogUploader.h"

#include "download/PostFile.h"
#include "platform/OwnFile.h"
#include "progress/LauncherEvents.h"
#include "telemetry/TelemetryClient.h"

#include <wx/datetime.h>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/wfstream.h>
#include <wx/zipstrm.h>

#include <algorithm>
#include <optional>

namespace {

// The service refuses archives of 1 GiB or more.
constexpr wxULongLong_t MAX_UPLOAD_BYTES = 1073741824;

// What support reads of a log is its end: a log that grew without bound
// would otherwise make an upload as large.
constexpr wxFileOffset MAX_LOG_BYTES = 4 << 20;

// Adds the last MAX_LOG_BYTES of the file as an entry named without its
// directory; false when it is no regular file (a link, a FIFO) or cannot be read.
bool AddToArchive(wxZipOutputStream& zip, const wxString& path)
{
    wxFileInputStream input(platform::OpenRegularFile(path, platform::FileAccess::Read));
    if (!input.IsOk() ||
        input.SeekI(std::max<wxFileOffset>(0, input.GetLength() - MAX_LOG_BYTES)) == wxInvalidOffset) {
        return false;
    }
    const wxString name = wxFileName(path).GetFullName();
    wxLogVerbose("log file found: %s", name);
    zip.PutNextEntry(name, wxDateTime::Now());
    zip.Write(input);
    return true;
}

} // namespace

AsyncLogUploader::AsyncLogUploader(wxEvtHandler* owner, TelemetryClient& client)
    : owner(owner), client(client)
{
}

AsyncLogUploader::~AsyncLogUploader()
{
    StopLogUpload();
    if (thread)
        thread->Join();
}

void AsyncLogUploader::AddLogFile(const wxString& path)
{
    std::lock_guard lock(mutex);
    logFiles.push_back(path);
}

void AsyncLogUploader::StartLogUpload()
{
    // One upload at a time: a second start while one runs has nothing new to send.
    if (IsUploading())
        return;
    // A stopped upload's thread ends within moments.
    if (thread)
        thread->Join();
    stop.Clear();
    thread = std::make_unique<WorkerThread>([this] { Run(); });
    {
        std::lock_guard lock(mutex);
        uploading = true;
    }
    if (!thread->Start()) {
        wxLogError("Error starting log upload.");
        std::lock_guard lock(mutex);
        uploading = false;
    }
}

bool AsyncLogUploader::IsUploading() const
{
    std::lock_guard lock(mutex);
    return uploading;
}

void AsyncLogUploader::StopLogUpload()
{
    std::lock_guard lock(mutex);
    if (!uploading)
        return;
    wxLogVerbose("Stopping upload thread.");
    stop.Request();
    uploading = false;
}

void AsyncLogUploader::Run()
{
    wxLogMessage("Log file upload, using %s", client.GetServiceUrl());
    wxArrayString files;
    {
        std::lock_guard lock(mutex);
        files = logFiles;
    }
    const wxString archive = files.empty() ? wxString() : wxFileName::CreateTempFileName("log");
    int result = 0;
    if (!archive.empty() && Pack(files, archive))
        result = Post(archive) ? 0 : -1;
    else
        wxLogVerbose("No log file found, skipping upload.");
    if (!archive.empty())
        wxRemoveFile(archive);
    Finish(result);
}

bool AsyncLogUploader::Pack(const wxArrayString& files, const wxString& archive) const
{
    wxFileOutputStream file(archive);
    wxZipOutputStream zip(file);
    int packed = 0;
    for (const wxString& path : files) {
        if (stop.IsRequested())
            break;
        if (AddToArchive(zip, path))
            ++packed;
    }
    zip.Close();
    file.Close();
    return packed > 0;
}

bool AsyncLogUploader::Post(const wxString& archive)
{
    const std::optional<TelemetryClient::Upload> upload =
        stop.IsRequested() ? std::nullopt : client.PrepareUpload(stop);
    if (!upload)
        return false;
    const wxULongLong size = wxFileName::GetSize(archive);
    wxLogVerbose("Upload file size: %s", size.ToString());
    if (size >= MAX_UPLOAD_BYTES) {
        wxLogWarning("Could not upload logs, file size is too big.");
        return false;
    }
    wxLogVerbose("Starting upload.");
    const bool ok = PostFile(upload->serviceUrl, "logfile", archive, upload->fields, &stop);
    if (ok)
        wxLogVerbose("Log uploaded successfully.");
    else if (!stop.IsRequested())
        wxLogError("Error uploading logs to %s", upload->serviceUrl);
    return ok;
}

void AsyncLogUploader::Finish(int result)
{
    // Under the lock a stop either comes first and silences the event, or finds the upload over.
    std::lock_guard lock(mutex);
    if (!stop.IsRequested() && owner != nullptr) {
        wxThreadEvent event(wxEVT_LOG_UPLOAD_DONE);
        event.SetInt(result);
        owner->AddPendingEvent(event);
    }
    uploading = false;
}
