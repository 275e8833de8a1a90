#include "app/UpdateCommand.h"

#include "app/LauncherServices.h"
#include "platform/TerminationSignals.h"
#include "progress/LauncherEvents.h"
#include "progress/ProgressNotifier.h"
#include "telemetry/TelemetryClient.h"
#include "update/UpdateEngine.h"

#include <wx/cmdline.h>
#include <wx/evtloop.h>
#include <wx/evtloopsrc.h>
#include <wx/filename.h>
#include <wx/intl.h>
#include <wx/log.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace {

// How often the command draws a progress line held back and looks for a
// worker that has ended.
constexpr int WATCH_INTERVAL_MS = 200;
// Once the outcome is known only the worker's last request is awaited.
constexpr int FINISHING_INTERVAL_MS = 5;
// A script must not wait for ever on a server that is down.
constexpr long DEFAULT_WAIT_SECONDS = 60;

const wxCmdLineEntryDesc COMMAND_LINE[] = {
    {wxCMD_LINE_SWITCH, "h", "help", "show this help", wxCMD_LINE_VAL_NONE, wxCMD_LINE_OPTION_HELP},
    {wxCMD_LINE_OPTION, nullptr, "wait",
     "give up after <num> seconds without an answer from the update server (default 60; 0 waits for ever)",
     wxCMD_LINE_VAL_NUMBER, 0},
    {wxCMD_LINE_SWITCH, nullptr, "verify", "hash every file of the release and repair those that differ",
     wxCMD_LINE_VAL_NONE, 0},
    {wxCMD_LINE_PARAM, nullptr, nullptr, "INSTALL_DIR", wxCMD_LINE_VAL_STRING, 0},
    wxCMD_LINE_DESC_END,
};

const char DESCRIPTION[] = "\n"
                           "Brings the game installed in INSTALL_DIR up to date from the update server\n"
                           "named in INSTALL_DIR/launcher.conf, as the launcher does when it starts.\n"
                           "Ctrl-C or SIGTERM stops it within about a second; a second one at once.\n"
                           "With --verify it also hashes every file the release lists, whatever its\n"
                           "size and time, repairs those that differ, and tells how many there were.\n"
                           "\n"
                           "Exit status:\n"
                           "  0  up to date, or updated\n"
                           "  1  failure: no such directory, no launcher.conf, the game or a launcher\n"
                           "     running there, or another error\n"
                           "  2  stopped\n"
                           "  3  a file of the installation could not be written, or the disk has no\n"
                           "     room for the update\n"
                           "  4  the update server has no release, did not answer, or its manifest\n"
                           "     could not be read, is not signed by the publisher or names another\n"
                           "     or an older release; or the release key cannot be used\n"
                           "  5  the update server refused a file of the release: it answered 404, 403\n"
                           "     or 410, or the same error status through three series of retries";

// The last line of the command when it ends without success.
wxString FailureText(int status)
{
    switch (status) {
    case UpdateCommand::EXIT_STOPPED:
        return "Stopped.";
    case UpdateCommand::EXIT_WRITE_ERROR:
        return "The update stopped: a file could not be written.";
    case UpdateCommand::EXIT_NO_RELEASE:
        return "The update server has no release to install.";
    case UpdateCommand::EXIT_REFUSED:
        return "The update server refused a file of the release.";
    default:
        return "The update failed.";
    }
}

} // namespace

UpdateCommand::UpdateCommand() : watchTimer(this)
{
    Bind(wxEVT_STATUS_MESSAGE, &UpdateCommand::OnStatusMessage, this);
    Bind(wxEVT_PROGRESS_RANGE_UPDATED, &UpdateCommand::OnProgressRange, this);
    Bind(wxEVT_PROGRESS_UPDATED, &UpdateCommand::OnProgress, this);
    Bind(wxEVT_NO_CHANGES_FOUND, &UpdateCommand::OnNoChangesFound, this);
    Bind(wxEVT_START_UPDATE, &UpdateCommand::OnStartUpdate, this);
    Bind(wxEVT_DISABLE_PLAY, &UpdateCommand::OnDisablePlay, this);
    Bind(wxEVT_UPDATE_STARTED, &UpdateCommand::OnUpdateStarted, this);
    Bind(wxEVT_UPDATE_FINISHED, &UpdateCommand::OnUpdateFinished, this);
    Bind(wxEVT_UPDATE_STOPPED, &UpdateCommand::OnUpdateStopped, this);
    Bind(wxEVT_TIMER, &UpdateCommand::OnWatchTimer, this);
}

UpdateCommand::~UpdateCommand() = default;

int UpdateCommand::Run(int argc, wxChar** argv)
{
    const wxString installDir = ParseCommandLine(argc, argv);
    if (installDir.empty())
        return exitStatus;
    SetUp(installDir);
    if (startup.config.configMissing) {
        // As the window does: the player is told, the service hears that no
        // update ran, and nothing starts.
        report.Status(_("Config file not found, please contact support."), MESSAGE_ERROR);
        services->Telemetry().SendEvent("updater_finished", "ABORTED_GET_REMOTE_VERSION");
        exitStatus = EXIT_FAILED;
    } else if (LockInstallation()) {
        RunEventLoop();
    }
    TearDown();
    return exitStatus;
}

wxString UpdateCommand::ParseCommandLine(int argc, wxChar** argv)
{
    wxCmdLineParser parser(COMMAND_LINE, argc, argv);
    // The parser prints what it found wrong; the usage follows it.
    const int parsed = parser.Parse(false);
    const wxString usage = parser.GetUsageString() + DESCRIPTION;
    if (parsed == -1) {
        report.Message(usage);
        exitStatus = EXIT_DONE;
        return wxString();
    }
    if (parsed != 0) {
        report.Error(usage);
        exitStatus = EXIT_FAILED;
        return wxString();
    }
    long wait = DEFAULT_WAIT_SECONDS;
    if (parser.Found("wait", &wait) && wait < 0) {
        report.Error("--wait takes a number of seconds, 0 or more.\n" + usage);
        exitStatus = EXIT_FAILED;
        return wxString();
    }
    waitSeconds = static_cast<int>(std::min<long>(wait, INT_MAX));
    verify = parser.Found("verify");
    wxFileName dir = wxFileName::DirName(parser.GetParam(0));
    dir.MakeAbsolute();
    if (!dir.DirExists()) {
        report.Error("No such directory: " + parser.GetParam(0));
        exitStatus = EXIT_FAILED;
        return wxString();
    }
    return dir.GetPath();
}

void UpdateCommand::SetUp(const wxString& installDir)
{
    // The launcher's start-up, for this directory instead of its own, and
    // what the window prepares before it decides what to start.
    startup.Begin(installDir);
    wxLogMessage("Update command for %s.", installDir);
    services = std::make_unique<LauncherServices>(startup.config, this, installDir);
    services->Engine().SetRemoteVersionWait(waitSeconds);
}

bool UpdateCommand::LockInstallation()
{
    if (!startup.IsInstallationInUse() && startup.LockInstallation())
        return true;
    wxLogError("The game or the launcher is running in %s.", startup.InstallDir());
    report.Error("The game or the launcher is running in this installation: close it and try again.");
    return false;
}

void UpdateCommand::RunEventLoop()
{
    // The base library's loop: no display is needed.
    wxConsoleEventLoop loop;
    const std::unique_ptr<wxEventLoopSource> signals(
        platform::WatchTerminationSignals(loop, [this] { OnTerminationSignal(); }));
    if (!signals)
        wxLogWarning("Could not watch for termination signals.");
    watchTimer.Start(WATCH_INTERVAL_MS);
    services->Engine().SetFullCheck(verify);
    services->Engine().StartChecker();
    loop.Run();
    watchTimer.Stop();
}

void UpdateCommand::TearDown()
{
    services.reset();
    startup.RemoveLock();
    startup.End();
}

void UpdateCommand::Finish(int status, const wxString& outcome)
{
    phase = Phase::Done;
    exitStatus = status;
    watchTimer.Start(FINISHING_INTERVAL_MS);
    // The workers' lines wait for the main thread: the outcome line goes after them.
    wxLog::FlushActive();
    wxLogMessage("Update command done, exit status %d.", status);
    if (status == EXIT_DONE || status == EXIT_STOPPED)
        report.Message(outcome);
    else
        report.Error(outcome);
}

// The engine's last error says why an update stopped, unless a stop was asked for.
int UpdateCommand::StoppedUpdateStatus() const
{
    if (stopRequested)
        return EXIT_STOPPED;
    switch (services->Engine().GetLastError()) {
    case ERROR_NONE:
        return EXIT_STOPPED;
    case ERROR_WRITE:
        return EXIT_WRITE_ERROR;
    case ERROR_REFUSED:
        return EXIT_REFUSED;
    default:
        return EXIT_FAILED;
    }
}

void UpdateCommand::OnStatusMessage(wxThreadEvent& event)
{
    report.Status(event.GetString(), event.GetInt());
}

void UpdateCommand::OnProgressRange(wxThreadEvent& event)
{
    report.SetRange(ProgressUnits(event));
}

void UpdateCommand::OnProgress(wxThreadEvent& event)
{
    report.SetPosition(ProgressUnits(event));
}

void UpdateCommand::OnNoChangesFound(wxThreadEvent&)
{
    Finish(EXIT_DONE,
           verify ? VerifiedText() : "Up to date: version " + services->Engine().GetLocalVersion() + ".");
}

// The check posts its outcome after its last change to the manifests.
wxString UpdateCommand::VerifiedText() const
{
    return wxString::Format("Checked %zu files of version %s: %zu repaired.",
                            services->Engine().GetRemoteManifest().size(),
                            services->Engine().GetLocalVersion(), repairs);
}

void UpdateCommand::OnStartUpdate(wxThreadEvent&)
{
    if (stopRequested) {
        Finish(EXIT_STOPPED, FailureText(EXIT_STOPPED));
        return;
    }
    phase = Phase::Updating;
    repairs = services->Engine().GetMismatches().size();
    services->Engine().StartUpdater();
}

void UpdateCommand::OnDisablePlay(wxThreadEvent&)
{
    if (services->Engine().RemoteVersionTimedOut())
        Finish(EXIT_NO_RELEASE,
               wxString::Format("The update server did not answer for %d seconds.", waitSeconds));
    else if (services->Engine().ReleaseRefused())
        Finish(EXIT_NO_RELEASE, "The update server's release is not signed by the publisher.");
    else
        Finish(EXIT_NO_RELEASE, FailureText(EXIT_NO_RELEASE));
}

void UpdateCommand::OnUpdateStarted(wxThreadEvent&)
{
    report.CountBytes();
}

void UpdateCommand::OnUpdateFinished(wxThreadEvent&)
{
    const UpdateEngine& engine = services->Engine();
    wxString text = verify ? VerifiedText() : "Updated to version " + engine.GetLocalVersion() + ".";
    if (engine.PatchedFiles() > 0)
        text += wxString::Format(" Files patched: %d, saving %s.", engine.PatchedFiles(),
                                 SizeText(static_cast<std::int64_t>(engine.PatchSavedBytes())));
    Finish(EXIT_DONE, text);
}

void UpdateCommand::OnUpdateStopped(wxThreadEvent&)
{
    const int status = StoppedUpdateStatus();
    Finish(status, FailureText(status));
}

void UpdateCommand::OnWatchTimer(wxTimerEvent&)
{
    report.Flush();
    if (services->Engine().IsWorking())
        return;
    if (phase == Phase::Done) {
        wxEventLoopBase::GetActive()->Exit();
        return;
    }
    // Whatever the worker posted before it ended is queued ahead of this call.
    CallAfter([this, endedIn = phase] { OnWorkerEnded(endedIn); });
}

void UpdateCommand::OnWorkerEnded(Phase endedIn)
{
    if (phase != endedIn)
        return;
    // A stopped check posts no closing event; nor does a worker that could not start.
    const int status = stopRequested ? EXIT_STOPPED : EXIT_FAILED;
    Finish(status, FailureText(status));
}

void UpdateCommand::OnTerminationSignal()
{
    if (stopRequested) {
        wxLogWarning("Asked again to stop: ending at once.");
        wxLog::FlushActive();
        std::fflush(nullptr);
        std::_Exit(phase == Phase::Done ? exitStatus : EXIT_STOPPED);
    }
    stopRequested = true;
    wxLogMessage("Asked to stop.");
    report.Message("Stopping; press Ctrl-C again to quit at once.");
    services->Engine().Stop();
}
