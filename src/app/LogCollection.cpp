#include "app/LogCollection.h"

#include "app/LauncherConfig.h"
#include "platform/OwnFile.h"
#include "telemetry/AsyncLogUploader.h"

#include <wx/dir.h>
#include <wx/filename.h>
#include <wx/log.h>

wxString GameLogPath(const wxString& logDir, const wxDateTime& start, const wxString& sessionId)
{
    const wxString name = "client" + start.Format("-%Y%m%d-%H%M%S-") + sessionId + ".txt";
    wxFileName path(logDir, name);
    path.MakeAbsolute();
    return path.GetFullPath();
}

void CollectLogs(AsyncLogUploader& uploader, const wxString& gameLogPath, const LauncherConfig& config)
{
    const wxString logs[] = {gameLogPath, config.logFile,
                             wxFileName(config.baseDir + "/velorian_Data", "output_log.txt").GetFullPath(),
                             NewestCrashReport(config.baseDir)};
    // A linked folder must not send the player's other files to the service.
    // The logs lie beside the launcher, the game's own files in baseDir.
    for (const wxString& log : logs) {
        if (!log.empty() && (platform::IsInsideDirectory(log, config.settingsDir) ||
                             platform::IsInsideDirectory(log, config.baseDir)))
            uploader.AddLogFile(log);
    }
}

wxString NewestCrashReport(const wxString& baseDir)
{
    const wxString pattern = wxFileName(baseDir, "Crash*").GetFullPath();
    wxDir dir;
    wxString name;
    bool found = false;
    {
        // An unreadable directory contributes nothing, quietly.
        wxLogNull quiet;
        found = wxDir::Exists(baseDir) && dir.Open(baseDir) && dir.GetFirst(&name, "Crash*", wxDIR_DIRS);
    }
    if (!found) {
        wxLogVerbose("No files found matching pattern %s", pattern);
        return wxString();
    }
    wxString newest;
    time_t newestTime = 0;
    do {
        const wxString report =
            wxFileName(wxFileName(baseDir, name).GetFullPath(), "error.log").GetFullPath();
        const time_t modified = wxFileName::FileExists(report) ? wxFileModificationTime(report) : 0;
        if (modified > newestTime) {
            newest = report;
            newestTime = modified;
        }
    } while (dir.GetNext(&name));
    return newest;
}
