#pragma once

#include <wx/datetime.h>
#include <wx/string.h>

#include <cstdio>

class wxLog;

// The per-run log file: logs/launcher_log-YYYYMMDD-HHMMSS.txt, installed as the
// toolkit's active log target with a time stamp on every line.
class LauncherLog {
public:
    LauncherLog() = default;
    ~LauncherLog();
    LauncherLog(const LauncherLog&) = delete;
    LauncherLog& operator=(const LauncherLog&) = delete;

    // Sets the time stamp and the default level, creates logDir and makes a new
    // file in it, named after start, the log target. When the directory cannot
    // be made the error goes to the target that was active, which stays so.
    void Open(const wxString& logDir, const wxDateTime& start = wxDateTime::Now());
    // Detaches and deletes the file target and closes the file.
    void Close();

    // Full path of this run's file, set even when the file could not be made.
    const wxString& FilePath() const { return logFilePath; }

    static wxString FileNameFor(const wxDateTime& start);
    // Sets up the toolkit's log state that worker threads share; must run on
    // the main thread before the first worker starts. Open does it.
    static void PrepareForWorkers();

private:
    FILE* logStream = nullptr;
    wxLog* fileTarget = nullptr;
    wxString logFilePath;
};
