#include "app/LauncherSequence.h"

#include "app/LauncherConfig.h"
#include "app/LauncherServices.h"
#include "app/LauncherView.h"
#include "app/LogCollection.h"
#include "app/Version.h"
#include "progress/LauncherEvents.h"
#include "progress/ProgressNotifier.h"
#include "selfupdate/SelfUpdateFiles.h"
#include "selfupdate/SelfUpdater.h"
#include "telemetry/AsyncLogUploader.h"
#include "telemetry/TelemetryClient.h"
#include "update/UpdateEngine.h"

#include <wx/intl.h>
#include <wx/log.h>

#include <utility>

namespace {

// The exit waits this long, one tick a second, for the threads to end.
constexpr int MAX_EXIT_ATTEMPTS = 60;

// The game's managed libraries, whose changes the telemetry service hears of.
const char MANAGED_ASSEMBLIES[] = "velorian_Data\\Managed\\*.dll";

} // namespace

const LauncherSequence::WorkerEvent LauncherSequence::WORKER_EVENTS[] = {
    {wxEVT_SELF_UPDATE_DONE, &LauncherSequence::OnSelfUpdateDone},
    {wxEVT_NO_CHANGES_FOUND, &LauncherSequence::OnNoChangesFound},
    {wxEVT_DISABLE_PLAY, &LauncherSequence::OnDisablePlay},
    {wxEVT_START_UPDATE, &LauncherSequence::OnStartUpdate},
    {wxEVT_UPDATE_STARTED, &LauncherSequence::OnUpdateStarted},
    {wxEVT_UPDATE_STOPPED, &LauncherSequence::OnUpdateStopped},
    {wxEVT_UPDATE_FINISHED, &LauncherSequence::OnUpdateFinished},
    {wxEVT_GAME_TERMINATED, &LauncherSequence::OnGameTerminated},
    {wxEVT_LOG_UPLOAD_DONE, &LauncherSequence::OnLogUploadDone},
};

LauncherSequence::LauncherSequence(const LauncherConfig& config, LauncherServices& services,
                                   LauncherView& view, wxEvtHandler* target, AskUser askUser)
    : config(config), services(services), view(view), target(target), askUser(askUser),
      game(config, target, askUser),
      gameLogPath(GameLogPath(config.logDir, config.startTime, services.Telemetry().GetSessionId()))
{
    for (const WorkerEvent& worker : WORKER_EVENTS)
        target->Bind(worker.type, worker.handler, this);
    CollectLogs(services.LogUploader(), gameLogPath, config);
}

// The target may outlive the sequence, and its queue may still hold the workers' last events.
LauncherSequence::~LauncherSequence()
{
    for (const WorkerEvent& worker : WORKER_EVENTS)
        target->Unbind(worker.type, worker.handler, this);
}

void LauncherSequence::Start()
{
    ProgressNotifier& notifier = services.Notifier();
    // The page is shown in this mode too: a mini-browser without a page would show nothing to refresh.
    view.LoadNewsPage();
    if (config.miniBrowserOnly) {
        notifier.Pulse();
        view.ShowMiniBrowser();
    } else if (config.configMissing) {
        notifier.SetErrorStatus(_("Config file not found, please contact support."));
        notifier.PostDisablePlay();
        services.Telemetry().SendEvent("updater_finished", "ABORTED_GET_REMOTE_VERSION");
    } else if (!config.gameRunning) {
        StartSelfUpdate();
    } else if (services.Engine().IsLocalVersionValid()) {
        notifier.SetStatus(_("Velorian already running. Skipping update."), MESSAGE_INFO);
        notifier.Complete();
        SetState(STATE_READY);
        view.EnablePlay(true);
    } else {
        askUser(_("Update already in progress."), _("Launcher"), wxOK | wxICON_INFORMATION);
        StartExitSequence();
    }
}

void LauncherSequence::StartSelfUpdate()
{
    SetState(STATE_SELF_UPDATING);
    selfUpdater = std::make_unique<SelfUpdater>(&services.Notifier(), LAUNCHER_VERSION, config.languageCode,
                                                config.baseUrl, SelfUpdateFilePath(GetExecutableDir()),
                                                config.releaseKey);
    if (!selfUpdater->Start()) {
        wxLogError("Error starting self update.");
        selfUpdater.reset();
        services.Notifier().PostSelfUpdateDone(SELF_UPDATE_FAILED);
    }
}

void LauncherSequence::StartUpdateCheck()
{
    SetState(STATE_CHECKING);
    services.Engine().StartChecker();
}

void LauncherSequence::OnSelfUpdateDone(wxThreadEvent& event)
{
    // The thread posted this as its last act: the join is immediate.
    selfUpdater.reset();
    if (IgnoredWhileExiting("OnSelfUpdateDone"))
        return;
    wxLogVerbose("Self thread finished.");
    if (event.GetInt() != SELF_UPDATE_DOWNLOADED) {
        StartUpdateCheck();
        return;
    }
    wxLogMessage("Downloaded new launcher, restarting.");
    askUser(_("New launcher version.\nLauncher will now try to restart."), _("Launcher"),
            wxOK | wxICON_INFORMATION);
    // The new launcher waits for this one to end, or it would find the
    // installation locked and take the game for running.
    RunSelfUpdate(GetExecutableDir(), true);
    StartExitSequence();
}

void LauncherSequence::OnNoChangesFound(wxThreadEvent&)
{
    if (IgnoredWhileExiting("OnNoChangesFound"))
        return;
    // A start that found nothing to do tells no one elsewhere; a long verify does.
    wxString notice;
    if (std::exchange(verifying, false)) {
        services.Engine().SetFullCheck(false);
        wxLogMessage("Verified: every file is intact.");
        notice = _("Verified: every file is intact.");
        services.Notifier().SetStatus(notice, MESSAGE_INFO);
    }
    view.RequestAttention(notice);
    SetState(STATE_READY);
    view.EnablePlay(true);
}

void LauncherSequence::OnDisablePlay(wxThreadEvent&)
{
    view.EnablePlay(false);
    if (verifying)
        AbandonVerify();
}

// The installation is as the check found it before the verify: what Play allowed then, it allows now.
void LauncherSequence::AbandonVerify()
{
    verifying = false;
    services.Engine().SetFullCheck(false);
    wxLogWarning("The verify could not reach the update server.");
    SetState(stateBeforeVerify);
    view.EnablePlay(state != STATE_UPDATE_STOPPED);
}

void LauncherSequence::OnStartUpdate(wxThreadEvent&)
{
    // The update would clear the stop that the exit asked for.
    if (IgnoredWhileExiting("OnStartUpdate"))
        return;
    wxLogMessage("Starting update.");
    if (verifying)
        repairs = static_cast<int>(services.Engine().GetMismatches().size());
    SetState(STATE_UPDATING);
    services.Engine().StartUpdater();
}

void LauncherSequence::OnUpdateStarted(wxThreadEvent&)
{
    if (!IgnoredWhileExiting("OnUpdateStarted"))
        view.ShowPauseControl(true, false);
}

void LauncherSequence::OnUpdateStopped(wxThreadEvent&)
{
    if (IgnoredWhileExiting("OnUpdateStopped"))
        return;
    wxLogVerbose("Update stopped.");
    verifying = false;
    EndDownload();
    SetState(STATE_UPDATE_STOPPED);
    view.EnablePlay(false);
}

void LauncherSequence::EndDownload()
{
    services.Engine().SetFullCheck(false);
    services.Engine().SetPaused(false);
    view.ShowPauseControl(false, false);
}

void LauncherSequence::OnUpdateFinished(wxThreadEvent&)
{
    if (IgnoredWhileExiting("OnUpdateFinished"))
        return;
    EndDownload();
    wxString notice;
    if (std::exchange(verifying, false)) {
        wxLogMessage("Verified: %d files repaired.", repairs);
        notice = wxString::Format(_("Verified: %d files repaired."), repairs);
        services.Notifier().SetStatus(notice, MESSAGE_INFO);
    } else {
        services.Notifier().SetStatus(_("Update done. Click Play to start the game."), MESSAGE_INFO);
        notice = _("The update is done. You can play now.");
    }
    view.RequestAttention(notice);
    SetState(STATE_UPDATE_DONE);
    view.EnablePlay(true);
}

bool LauncherSequence::IgnoredWhileExiting(const char* handler) const
{
    if (state != STATE_EXITING)
        return false;
    wxLogMessage("Event %s while exiting.", handler);
    return true;
}

void LauncherSequence::OnPlay()
{
    if (config.miniBrowserOnly) {
        view.ReloadNewsPage();
        return;
    }
    view.EnablePlay(false);
    if (state != STATE_READY && state != STATE_UPDATE_DONE) {
        wxLogWarning("The PLAY button should be disabled. Most likely a bug. State: %d", state);
        return;
    }
    wxLogMessage("Starting the game.");
    if (game.LaunchGame(view.Choices(), gameLogPath)) {
        gameStarted = true;
        view.EnableVerify(false);
        services.Notifier().SetStatus(_("Game running..."), MESSAGE_INFO);
        view.HideWindow();
        StartBackgroundChecks();
    } else {
        services.Notifier().SetErrorStatus(_("Could not start the game, please contact support."));
        wxLogVerbose("Could not start the game.");
        view.EnablePlay(true);
    }
}

void LauncherSequence::StartBackgroundChecks()
{
    wxLogMessage("Starting background checks.");
    services.Engine().FindChanges(MANAGED_ASSEMBLIES);
}

void LauncherSequence::OnGameTerminated(wxThreadEvent&)
{
    services.LogUploader().StartLogUpload();
    StartExitSequence();
}

void LauncherSequence::OnClose()
{
    wxLogVerbose("Close button clicked, will start exit sequence.");
    StartExitSequence();
}

void LauncherSequence::StartExitSequence()
{
    const int previous = state;
    SetState(STATE_EXITING);
    view.ShowPauseControl(false, false);
    // The engine's transfers stay held until the stop ends them; the status line moves on.
    services.Notifier().SetPaused(false);
    services.Notifier().SetStatus(_("Quitting launcher..."), MESSAGE_INFO);
    if (previous == STATE_UPDATING || previous == STATE_CHECKING) {
        wxLogVerbose("Will stop update.");
        services.Engine().Stop();
    }
    if (selfUpdater)
        selfUpdater->Stop();
    view.StopPulse();
    view.EnablePlay(false);
    wxLogVerbose("Starting exit timer.");
    exitAttempts = 0;
    view.StartExitTimer();
}

void LauncherSequence::OnExitTimer()
{
    ++exitAttempts;
    wxLogVerbose("Trying to exit, attempt #%d.", exitAttempts);
    bool ready = true;
    if (services.LogUploader().IsUploading()) {
        wxLogVerbose("Waiting log upload to finish.");
        ready = false;
    }
    // A stopped check or update ends within a second or so; the window waits
    // for it here rather than blocking in its destructor.
    if (services.Engine().IsWorking()) {
        wxLogVerbose("Waiting update thread.");
        ready = false;
    }
    if (selfUpdater && selfUpdater->IsRunning()) {
        wxLogVerbose("Waiting self update thread.");
        ready = false;
    }
    if (exitAttempts >= MAX_EXIT_ATTEMPTS || ready)
        FinishExit();
}

void LauncherSequence::OnPauseResume()
{
    if (state != STATE_UPDATING)
        return;
    const bool pause = !services.Engine().IsPaused();
    wxLogMessage(pause ? "Download paused." : "Download resumed.");
    services.Engine().SetPaused(pause);
    view.ShowPauseControl(true, pause);
}

// The same full check as the command line's --verify, then the update of what differs.
void LauncherSequence::OnVerify()
{
    if (state != STATE_READY && state != STATE_UPDATE_DONE && state != STATE_UPDATE_STOPPED) {
        wxLogWarning("Verify is not possible now. State: %d", state);
        return;
    }
    wxLogMessage("Verifying the installed files.");
    verifying = true;
    stateBeforeVerify = state;
    repairs = 0;
    view.EnablePlay(false);
    services.Engine().SetFullCheck(true);
    StartUpdateCheck();
}

void LauncherSequence::OnDownloadRateChosen(int kibPerSecond)
{
    wxLogMessage("Download rate limit: %d KiB/s.", kibPerSecond);
    services.Engine().SetMaxDownloadRate(kibPerSecond);
}

void LauncherSequence::SetState(int next)
{
    state = next;
    const bool settled = state == STATE_READY || state == STATE_UPDATE_DONE || state == STATE_UPDATE_STOPPED;
    view.EnableVerify(settled && !config.gameRunning && !gameStarted);
}

void LauncherSequence::OnLogUploadDone(wxThreadEvent&)
{
    if (state == STATE_EXITING)
        FinishExit();
}

void LauncherSequence::FinishExit()
{
    // The upload's end and a tick may both ask; the window goes once.
    if (exitFinished)
        return;
    exitFinished = true;
    view.StopExitTimer();
    if (services.LogUploader().IsUploading()) {
        wxLogVerbose("Killing data collector.");
        services.LogUploader().StopLogUpload();
    }
    if (selfUpdater) {
        // Asked to stop when the exit began, it ends within a fraction of a second.
        wxLogVerbose("Killing self updater.");
        selfUpdater.reset();
    }
    wxLogMessage("Exit launcher.");
    view.DestroyWindow();
}
