#pragma once

#include "app/LauncherStartup.h"

#include <wx/app.h>

#include <memory>

class EventLoopProbe;
class wxEventLoopSource;

// The application object: runs the start-up steps in order, owns the settings,
// the log file and the instance lock, and opens the main window.
class LauncherApp : public wxApp {
public:
    LauncherApp();
    ~LauncherApp() override;

    bool OnInit() override;
    int OnExit() override;
    void OnEventLoopEnter(wxEventLoopBase* loop) override;

private:
    void CheckInstances();
    // Parses the command line and starts a downloaded launcher when one is
    // waiting; true when it did, and this process is to end.
    bool HandleLocalLauncherUpdate();

    LauncherStartup startup;
    std::unique_ptr<wxEventLoopSource> signalSource;
    std::unique_ptr<EventLoopProbe> loopProbe;
};
