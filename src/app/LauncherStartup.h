#pragma once

#include "app/LauncherConfig.h"
#include "app/LauncherLog.h"

#include <wx/string.h>

#include <memory>

class InstanceLock;

// The start-up that every front end runs for an installation, in the
// launcher's order: the log file, libcurl, launcher.conf and user.conf, the
// network settings of every request, then the instance lock. The window's
// application and the update command both use it, so they write the same
// lines to the same files. Owns the settings, the log and the lock for the
// whole run.
class LauncherStartup {
public:
    LauncherStartup();
    // Releases the lock and closes the log, after the lines still queued.
    ~LauncherStartup();
    LauncherStartup(const LauncherStartup&) = delete;
    LauncherStartup& operator=(const LauncherStartup&) = delete;

    // installDir holds launcher.conf, user.conf, the logs and the locks.
    void Begin(const wxString& installDir);
    // True while a launcher or the game runs in the installation.
    bool IsInstallationInUse() const;
    // Holds a launcher lock of this run; false when it could not be made.
    bool LockInstallation();
    // Deletes the lock file and releases it: a tool that has finished leaves no
    // stale lock for the next launcher to clear.
    void RemoveLock();
    void End();

    const wxString& InstallDir() const { return installDir; }

    LauncherConfig config;

private:
    wxString installDir;
    LauncherLog log;
    std::unique_ptr<InstanceLock> lock;
};
