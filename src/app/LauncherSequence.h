#pragma once

#include "app/GameLauncher.h"
#include "common/AskUser.h"

#include <wx/string.h>

#include <memory>

class LauncherConfig;
class LauncherServices;
class LauncherView;
class SelfUpdater;
class wxEvtHandler;

// Where the launcher's sequence stands. The numbers appear in the log.
enum LauncherState : int {
    STATE_INITIAL = 0,
    STATE_SELF_UPDATING = 1,
    STATE_CHECKING = 2,
    STATE_READY = 3, // nothing to download, Play allowed
    STATE_UPDATE_STOPPED = 4,
    STATE_UPDATING = 5,
    STATE_UPDATE_DONE = 6, // every file installed, Play allowed
    STATE_EXITING = 7,     // thread events are only logged from here on
};

// The launcher's sequence in its window: the start-up decision, the
// self-update, the check and the update on the engine's threads, Play, and the
// exit that waits for the threads. The window turns its events into these
// calls and carries out what the sequence asks of its controls; all of it runs
// on the GUI thread.
class LauncherSequence {
public:
    // Everything given must outlive the sequence; target receives the game's end.
    LauncherSequence(const LauncherConfig& config, LauncherServices& services, LauncherView& view,
                     wxEvtHandler* target, AskUser askUser);
    ~LauncherSequence();
    LauncherSequence(const LauncherSequence&) = delete;
    LauncherSequence& operator=(const LauncherSequence&) = delete;

    // The start-up decision, once the window is built.
    void Start();

    void OnSelfUpdateDone(int code);
    void OnNoChangesFound();
    void OnStartUpdate();
    void OnUpdateStarted();
    void OnUpdateStopped();
    void OnUpdateFinished();
    void OnPlay();
    void OnGameTerminated();
    void OnClose();
    void OnExitTimer();
    void OnLogUploadDone();

    int GetState() const { return state; }

private:
    void StartSelfUpdate();
    void StartUpdateCheck();
    void StartBackgroundChecks();
    void StartExitSequence();
    void FinishExit();
    // True, after logging that the event came late, once the launcher is exiting.
    bool IgnoredWhileExiting(const char* handler) const;

    const LauncherConfig& config;
    LauncherServices& services;
    LauncherView& view;
    const AskUser askUser;
    GameLauncher game;
    // The self-update thread while it runs.
    std::unique_ptr<SelfUpdater> selfUpdater;
    wxString gameLogPath;
    int state = STATE_INITIAL;
    int exitAttempts = 0;
    bool exitFinished = false;
};
