#include "app/GameLauncher.h"

#include "app/LauncherConfig.h"
#include "common/WorkerThread.h"
#include "platform/Memory.h"
#include "progress/LauncherEvents.h"

#include <wx/filename.h>
#include <wx/intl.h>
#include <wx/log.h>
#include <wx/stdpaths.h>

#include <cstdint>
#include <vector>

GameLauncher::GameLauncher(const LauncherConfig& config, wxEvtHandler* target, AskUser askUser)
    : config(config), target(target), askUser(std::move(askUser))
{
}

GameLauncher::~GameLauncher()
{
    stopWatching = true;
}

bool GameLauncher::LaunchGame(const GameChoices& choices, const wxString& gameLogPath)
{
    WarnAboutMemory();
    wxFileName executable(config.gameExecutable);
    executable.Normalize(wxPATH_NORM_DOTS | wxPATH_NORM_TILDE | wxPATH_NORM_ABSOLUTE, config.baseDir);
    const wxString path = executable.GetFullPath();
    if (!executable.FileExists()) {
        wxLogWarning("Game executable not found: %s", path);
        return false;
    }

    const wxString windowMode = choices.fullscreen ? "-fullscreen" : "-window";
    const wxString launcherPath = wxStandardPaths::Get().GetExecutablePath();
    const wxString commandLine = wxString::Format(
        "\"%s\" -launch -language=%s -resolution=%s -quality=%d %s \"-logfile=%s\" \"-launcherpath=%s\"",
        path, config.languageCode, choices.resolution, choices.quality, windowMode, gameLogPath,
        launcherPath);
    wxLogMessage("Running %s", commandLine);
    // The update writes files without mode bits; only the installation's own
    // executable gets them, never a file elsewhere that the settings name.
    if (IsInstalled(path) && !platform::MakeExecutable(path))
        wxLogWarning("Could not make %s executable.", path);

    const std::vector<wxString> argv{path,
                                     "-launch",
                                     "-language=" + config.languageCode,
                                     "-resolution=" + choices.resolution,
                                     wxString::Format("-quality=%d", choices.quality),
                                     windowMode,
                                     "-logfile=" + gameLogPath,
                                     "-launcherpath=" + launcherPath};
    platform::ProcessId pid = 0;
    const int error = platform::StartProcess(argv, config.settingsDir, pid);
    if (error != 0) {
        wxLogMessage("Running %s", commandLine);
        wxLogError("Error starting game %i", error);
        return false;
    }
    Watch(pid);
    config.CreateFirstRunMarker();
    return true;
}

void GameLauncher::WarnAboutMemory() const
{
    const auto totalMB = static_cast<std::uint32_t>(platform::GetTotalPhysicalMemory() >> 20);
    const int requiredMB = config.minSysMemoryMB;
    wxLogWarning("System memory: %uMB. Required: %dMB.", totalMB, requiredMB);
    if (totalMB >= static_cast<std::uint32_t>(requiredMB))
        return;
    wxLogWarning("System memory: %uMB. Required: %dMB.", totalMB, requiredMB);
    const wxString format(_("Your system has only %dMB. This game requires %dMB of system memory, it may not "
                            "function properly. "));
    askUser(wxString::Format(format, static_cast<int>(totalMB), requiredMB), _("Launcher"),
            wxOK | wxICON_EXCLAMATION);
}

bool GameLauncher::IsInstalled(const wxString& path) const
{
    wxFileName installation = wxFileName::DirName(config.baseDir);
    installation.Normalize(wxPATH_NORM_DOTS | wxPATH_NORM_TILDE | wxPATH_NORM_ABSOLUTE);
    return path.StartsWith(installation.GetPath(wxPATH_GET_VOLUME | wxPATH_GET_SEPARATOR));
}

void GameLauncher::Watch(platform::ProcessId pid)
{
    watcher = std::make_unique<WorkerThread>([this, pid] {
        if (!platform::WaitForProcess(pid, stopWatching))
            return;
        wxLogVerbose("Process terminated!");
        wxThreadEvent ended(wxEVT_GAME_TERMINATED);
        target->AddPendingEvent(ended);
    });
    if (!watcher->Start())
        wxLogError("Error starting the game watcher.");
}
