#pragma once

#include "app/GameLauncher.h"
#include "common/AskUser.h"

#include <wx/event.h>
#include <wx/string.h>

#include <memory>

class LauncherConfig;
class LauncherServices;
class LauncherView;
class SelfUpdater;

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
// exit that waits for the threads. It handles the workers' events itself as
// they reach the window; the window passes on its own events and carries out
// what the sequence asks of its controls. All of it runs on the GUI thread.
class LauncherSequence {
public:
    // Everything given must outlive the sequence. target receives the events
    // of the services' workers and of the game's watcher; the sequence handles
    // those that move it on while it lives.
    LauncherSequence(const LauncherConfig& config, LauncherServices& services, LauncherView& view,
                     wxEvtHandler* target, AskUser askUser);
    ~LauncherSequence();
    LauncherSequence(const LauncherSequence&) = delete;
    LauncherSequence& operator=(const LauncherSequence&) = delete;

    // The start-up decision, once the window is built.
    void Start();

    void OnPlay();
    void OnClose();
    void OnExitTimer();
    // The player's actions beside the gauge and the "Problems?" link.
    void OnPauseResume();
    void OnVerify();
    // KiB/s, 0 for no limit; running transfers take it at once.
    void OnDownloadRateChosen(int kibPerSecond);

    int GetState() const { return state; }

private:
    struct WorkerEvent {
        const wxEventTypeTag<wxThreadEvent>& type;
        void (LauncherSequence::*handler)(wxThreadEvent&);
    };
    static const WorkerEvent WORKER_EVENTS[];

    void OnSelfUpdateDone(wxThreadEvent& event);
    void OnNoChangesFound(wxThreadEvent& event);
    void OnDisablePlay(wxThreadEvent& event);
    void OnStartUpdate(wxThreadEvent& event);
    void OnUpdateStarted(wxThreadEvent& event);
    void OnUpdateStopped(wxThreadEvent& event);
    void OnUpdateFinished(wxThreadEvent& event);
    void OnGameTerminated(wxThreadEvent& event);
    void OnLogUploadDone(wxThreadEvent& event);

    void StartSelfUpdate();
    void StartUpdateCheck();
    void StartBackgroundChecks();
    void StartExitSequence();
    void FinishExit();
    // Moves to next and offers the verify action where it disturbs nothing.
    void SetState(int next);
    // The download ended one way or the other: no pause is left to resume.
    void EndDownload();
    // The check that verify started failed: back to where it started.
    void AbandonVerify();
    // True, after logging that the event came late, once the launcher is exiting.
    bool IgnoredWhileExiting(const char* handler) const;

    const LauncherConfig& config;
    LauncherServices& services;
    LauncherView& view;
    wxEvtHandler* const target;
    const AskUser askUser;
    GameLauncher game;
    // The self-update thread while it runs.
    std::unique_ptr<SelfUpdater> selfUpdater;
    wxString gameLogPath;
    int state = STATE_INITIAL;
    // While a verify runs: the state it started from, and the files it found to repair.
    bool verifying = false;
    int stateBeforeVerify = STATE_INITIAL;
    int repairs = 0;
    bool gameStarted = false;
    int exitAttempts = 0;
    bool exitFinished = false;
};
