#pragma once

#include "common/AskUser.h"
#include "platform/Process.h"

#include <wx/string.h>

#include <atomic>
#include <memory>

class LauncherConfig;
class WorkerThread;
class wxEvtHandler;

// What the player chose in the window for the game.
struct GameChoices {
    wxString resolution; // as listed, e.g. "1024x768"
    int quality;         // 0 (Fastest) to 5 (Fantastic)
    bool fullscreen;
};

// Starts the game executable with the player's choices and watches it: a
// thread waits for that one process and posts wxEVT_GAME_TERMINATED to the
// target when it has ended.
class GameLauncher {
public:
    // config and target must outlive the launcher.
    GameLauncher(const LauncherConfig& config, wxEvtHandler* target, AskUser askUser);
    // Stops watching, leaving the game running, and waits for the watcher.
    ~GameLauncher();
    GameLauncher(const GameLauncher&) = delete;
    GameLauncher& operator=(const GameLauncher&) = delete;

    // Warns about too little memory, then starts the game, which writes its
    // log to gameLogPath; true when it runs. Creates the first-run marker.
    bool LaunchGame(const GameChoices& choices, const wxString& gameLogPath);

private:
    void WarnAboutMemory() const;
    // True when path lies inside the installation, where the launcher may change modes.
    bool IsInstalled(const wxString& path) const;
    void Watch(platform::ProcessId pid);

    const LauncherConfig& config;
    wxEvtHandler* const target;
    const AskUser askUser;
    std::atomic<bool> stopWatching{false};
    std::unique_ptr<WorkerThread> watcher;
};
