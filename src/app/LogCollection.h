#pragma once

#include <wx/datetime.h>
#include <wx/string.h>

class LauncherConfig;
class AsyncLogUploader;

// The game's log file for this run, which the game is told to write:
// logDir/client-YYYYMMDD-HHMMSS-<sessionId>.txt, named after the launcher's start.
wxString GameLogPath(const wxString& logDir, const wxDateTime& start, const wxString& sessionId);

// Lists the files that the log upload sends once the game has ended, in this
// order: the game's log of this run, the launcher's own log, the game engine's
// output log and the newest crash report found now, from an earlier run;
// only those whose folders lie inside the installation (the launcher's
// directory or baseDir).
void CollectLogs(AsyncLogUploader& uploader, const wxString& gameLogPath, const LauncherConfig& config);

// The "error.log" with the latest modification time among baseDir's "Crash*"
// directories; empty when there is none.
wxString NewestCrashReport(const wxString& baseDir);
