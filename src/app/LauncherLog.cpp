#include "app/LauncherLog.h"

#include "common/WorkerThread.h"
#include "platform/OwnFile.h"

#include <wx/filename.h>
#include <wx/log.h>

#include <mutex>
#include <string>

namespace {

const char TIMESTAMP_FORMAT[] = "[%d/%m/%y %H:%M:%S]";

// Where the workers write their lines themselves, each whole, into the file
// that the main thread's target writes to: the toolkit would otherwise wake
// the main thread for every line, which costs an update of many small files
// more than a third of its time besides the files.
class WorkerLogTarget : public wxLog {
public:
    void SetStream(FILE* newStream)
    {
        std::lock_guard lock(mutex);
        stream = newStream;
    }

protected:
    void DoLogText(const wxString& text) override
    {
        const std::string line = text.utf8_string() + "\n";
        std::lock_guard lock(mutex);
        if (stream != nullptr) {
            std::fputs(line.c_str(), stream);
            std::fflush(stream);
        }
    }

private:
    std::mutex mutex;
    FILE* stream = nullptr;
};

// Lives as long as the process: a worker may log after the file has closed.
WorkerLogTarget workerTarget;

} // namespace

LauncherLog::~LauncherLog()
{
    Close();
}

wxString LauncherLog::FileNameFor(const wxDateTime& start)
{
    return "launcher_log" + start.Format("-%Y%m%d-%H%M%S.txt");
}

void LauncherLog::PrepareForWorkers()
{
    // The toolkit makes the lock of its per-thread log state lazily, in the
    // first thread besides the main one that logs. One short thread makes it
    // here, before any worker starts, so no two workers race to make it.
    WorkerThread firstLogger([] { wxLog::IsEnabled(); });
    if (firstLogger.Start())
        firstLogger.Join();
}

void LauncherLog::Open(const wxString& logDir, const wxDateTime& start)
{
    PrepareForWorkers();
    wxLog::SetTimestamp(TIMESTAMP_FORMAT);
    wxLog::SetLogLevel(wxLOG_Message);

    logFilePath = wxFileName(logDir, FileNameFor(start)).GetFullPath();
    if (!wxFileName::Mkdir(logDir, 0777, wxPATH_MKDIR_FULL)) {
        wxLogError("Could not create logging directory %s", logDir);
        return;
    }

    // Two starts within one second share the name; the later run appends. A
    // link planted at the name is not followed. A file that cannot be opened
    // leaves a null stream, and the target then writes to the standard error
    // stream instead.
    const int fd = platform::OpenRegularFile(logFilePath, platform::FileAccess::Append);
    logStream = fd < 0 ? nullptr : fdopen(fd, "a");
    wxLog::SetVerbose(true);
    fileTarget = new wxLogStderr(logStream, wxConvUTF8);
    delete wxLog::SetActiveTarget(fileTarget);
    workerTarget.SetStream(logStream != nullptr ? logStream : stderr);
    WorkerThread::SetLogTarget(&workerTarget);
}

void LauncherLog::Close()
{
    WorkerThread::SetLogTarget(nullptr);
    workerTarget.SetStream(nullptr);
    if (fileTarget != nullptr) {
        if (wxLog::GetActiveTarget() == fileTarget)
            wxLog::SetActiveTarget(nullptr);
        delete fileTarget;
        fileTarget = nullptr;
    }
    if (logStream != nullptr) {
        fclose(logStream);
        logStream = nullptr;
    }
}
