#pragma once

#include "app/ConsoleReport.h"
#include "app/LauncherStartup.h"

#include <wx/event.h>
#include <wx/timer.h>

#include <cstddef>
#include <memory>

class LauncherServices;

// velorian-update [--verify] INSTALL_DIR: brings an installation up to date from a
// terminal, without a window. It sets up what the launcher sets up for its
// own directory (configuration, log file, translations, telemetry), wires the
// update engine as the window does, and runs the check and then the update on
// the engine's threads, reporting on the terminal from a console event loop.
class UpdateCommand : public wxEvtHandler {
public:
    enum ExitStatus : int {
        EXIT_DONE = 0, // up to date, or updated
        EXIT_FAILED = 1,
        EXIT_STOPPED = 2,
        EXIT_WRITE_ERROR = 3,
        // The server has no release, did not answer, or its manifest could not be read or was refused.
        EXIT_NO_RELEASE = 4,
        // The update server answered that a file of the release is not there (404, 403, 410), or
        // answered a request with the same error status through three series of retries.
        EXIT_REFUSED = 5,
    };

    UpdateCommand();
    ~UpdateCommand() override;
    UpdateCommand(const UpdateCommand&) = delete;
    UpdateCommand& operator=(const UpdateCommand&) = delete;

    // Runs the command for argv (argv[0] is the program) and returns the exit status.
    int Run(int argc, wxChar** argv);

private:
    enum class Phase { Checking, Updating, Done };

    // The absolute installation directory, or empty when the command ends at once with exitStatus.
    wxString ParseCommandLine(int argc, wxChar** argv);
    void SetUp(const wxString& installDir);
    // Holds a launcher lock for the run; false while the game or a launcher runs there.
    bool LockInstallation();
    void RunEventLoop();
    void TearDown();
    // Notes how the command ends; the event loop ends once the worker has ended too.
    void Finish(int status, const wxString& outcome);
    int StoppedUpdateStatus() const;
    wxString VerifiedText() const;

    void OnStatusMessage(wxThreadEvent& event);
    void OnProgressRange(wxThreadEvent& event);
    void OnProgress(wxThreadEvent& event);
    void OnNoChangesFound(wxThreadEvent& event);
    void OnStartUpdate(wxThreadEvent& event);
    void OnDisablePlay(wxThreadEvent& event);
    void OnUpdateStarted(wxThreadEvent& event);
    void OnUpdateFinished(wxThreadEvent& event);
    void OnUpdateStopped(wxThreadEvent& event);
    void OnWatchTimer(wxTimerEvent& event);
    void OnWorkerEnded(Phase endedIn);
    void OnTerminationSignal();

    ConsoleReport report;
    LauncherStartup startup;
    std::unique_ptr<LauncherServices> services;
    wxTimer watchTimer;
    Phase phase = Phase::Checking;
    bool stopRequested = false;
    int waitSeconds = 0;
    bool verify = false;
    std::size_t repairs = 0; // files the update set out to fetch
    int exitStatus = EXIT_FAILED;
};
