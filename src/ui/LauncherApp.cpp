#include "ui/LauncherApp.h"

#include "app/Version.h"
#include "platform/TerminationSignals.h"
#include "selfupdate/SelfUpdateHandOver.h"
#include "ui/EventLoopProbe.h"
#include "ui/LauncherFrame.h"
#include "ui/MessageBox.h"

#include <wx/cmdline.h>
#include <wx/evtloop.h>
#include <wx/evtloopsrc.h>
#include <wx/log.h>
#include <wx/utils.h>

#include <cstdlib>

wxIMPLEMENT_APP(LauncherApp);

namespace {

const wxCmdLineEntryDesc COMMAND_LINE[] = {
    {wxCMD_LINE_SWITCH, nullptr, "updated", "secret update switch", wxCMD_LINE_VAL_NONE, 0},
    {wxCMD_LINE_SWITCH, nullptr, "relaunch", "Wait a few seconds for client to die before starting",
     wxCMD_LINE_VAL_NONE, 0},
    {wxCMD_LINE_PARAM, nullptr, nullptr, "don't use it!!", wxCMD_LINE_VAL_STRING, wxCMD_LINE_PARAM_OPTIONAL},
    wxCMD_LINE_DESC_END,
};

// The restarting launcher passes --relaunch; give the old process time to end.
const int RELAUNCH_PAUSE_MS = 3000;

// A player never meets the toolkit's assertion dialog, which would hang the
// launcher: the failure is logged and the launcher carries on. Tests set
// LAUNCHER_ABORT_ON_ASSERT, so that an assertion fails them instead.
void LogAssertion(const wxString& file, int line, const wxString& function, const wxString& condition,
                  const wxString& message)
{
    wxLogError("Assertion failed in %s at %s:%d: %s %s", function, file, line, condition, message);
    if (wxGetEnv("LAUNCHER_ABORT_ON_ASSERT", nullptr)) {
        wxLog::FlushActive();
        std::abort();
    }
}

} // namespace

// The toolkit gives the window the application's name as its class, by
// which the desktop finds the menu entry's icon (its StartupWMClass).
LauncherApp::LauncherApp()
{
    SetAppName("org.velorian.Launcher");
}
LauncherApp::~LauncherApp() = default;

bool LauncherApp::OnInit()
{
    wxSetAssertHandler(LogAssertion);
    // The toolkit's own command-line handling is skipped on purpose: the
    // command line is parsed later, during the hand-over step.
    startup.Begin(GetExecutableDir());
    CheckInstances();
    if (HandleLocalLauncherUpdate()) {
        wxLogVerbose("Self update done, will restart launcher.");
        // The toolkit skips OnExit after a failed OnInit and deletes the log
        // target itself, so the log is closed here, while it is still ours.
        startup.End();
        return false;
    }

    wxLogMessage("Initial check done. Will load launcher GUI.");
    auto* frame = new LauncherFrame(&startup.config, nullptr, 1, "Launcher", wxDefaultPosition, wxDefaultSize,
                                    wxDEFAULT_FRAME_STYLE, ShowMessageBox);
    SetTopWindow(frame);
    frame->Show();
    if (wxGetEnv("LAUNCHER_LOOP_PROBE", nullptr))
        loopProbe = std::make_unique<EventLoopProbe>();
    return true;
}

int LauncherApp::OnExit()
{
    loopProbe.reset();
    startup.End();
    return 0;
}

void LauncherApp::CheckInstances()
{
    if (startup.IsInstallationInUse()) {
        wxLogWarning("The game is already running.");
        startup.config.gameRunning = true;
    }
    startup.LockInstallation();
}

bool LauncherApp::HandleLocalLauncherUpdate()
{
    wxCmdLineParser parser(COMMAND_LINE, argc, argv);
    // Errors show the usage text and start-up carries on regardless.
    parser.Parse(true);
    if (parser.GetParamCount() > 0)
        return false;
    if (parser.Found("relaunch")) {
        wxMilliSleep(RELAUNCH_PAUSE_MS);
        return false;
    }
    // Without a usable configuration there is no update server to ask.
    if (startup.config.configMissing)
        return false;
    const SelfUpdateHandOver handOver(GetExecutableDir(), LAUNCHER_VERSION, startup.config.baseUrl,
                                      startup.config.languageCode, startup.config.releaseKey, ShowMessageBox);
    return handOver.HandleLocalLauncherUpdate();
}

void LauncherApp::OnEventLoopEnter(wxEventLoopBase* loop)
{
    if (loop == nullptr || !loop->IsMain() || signalSource)
        return;
    // A desktop session that ends, or a terminal's Ctrl-C, closes the window
    // the way its close box does, so the normal shutdown runs.
    signalSource.reset(platform::WatchTerminationSignals(*loop, [this] {
        if (wxWindow* top = GetTopWindow())
            top->Close();
        // The window is destroyed at idle time; an event from a descriptor
        // does not start idle processing by itself.
        wxWakeUpIdle();
    }));
}
