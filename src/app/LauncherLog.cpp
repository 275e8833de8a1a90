#include "app/LauncherLog.h"

#include "common/WorkerThread.h"

#include <wx/filename.h>
#include <wx/log.h>

namespace {

const char TIMESTAMP_FORMAT[] = "[%d/%m/%y %H:%M:%S]";

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

    // Two starts within one second share the name; the later run truncates.
    // A file that cannot be opened leaves a null stream, and the target then
    // writes to the standard error stream instead.
    logStream = fopen(logFilePath.fn_str(), "w+");
    wxLog::SetVerbose(true);
    fileTarget = new wxLogStderr(logStream, wxConvUTF8);
    delete wxLog::SetActiveTarget(fileTarget);
}

void LauncherLog::Close()
{
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
