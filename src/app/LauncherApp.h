#pragma once

#include "app/LauncherConfig.h"

#include <wx/app.h>

#include <cstdio>
#include <memory>

class InstanceLock;
class LauncherLog;

// The application object: runs the start-up steps in order, owns the settings,
// the log file and the instance lock, and opens the main window.
class LauncherApp : public wxApp {
public:
    LauncherApp();
    ~LauncherApp() override;

    bool OnInit() override;
    int OnExit() override;

private:
    void InitLogging();
    void CloseLogging();
    void CheckInstances();
    bool HandleLocalLauncherUpdate();
    bool ParseCommandLine(bool& relaunch, bool& positional);

    LauncherConfig config;
    // log and lock come next
};
