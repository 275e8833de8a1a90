#include "support/LauncherProcess.h"

#include "support/Polling.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <wx/dir.h>
#include <wx/filefn.h>
#include <wx/filename.h>

#include <cstdlib>
#include <vector>

namespace {

wxArrayString LogFiles(const wxString& installDir)
{
    wxArrayString logs;
    if (wxDirExists(installDir + "/logs"))
        wxDir::GetAllFiles(installDir + "/logs", &logs, "launcher_log-*.txt", wxDIR_FILES);
    logs.Sort();
    return logs;
}

// Every launcher that a test starts confirms its boxes and aborts on a toolkit
// assertion, which fails the test. Set here, as fork and exec allow no setenv.
std::vector<std::string> LauncherCommand(const wxString& exe, const std::vector<std::string>& args)
{
    setenv("LAUNCHER_CONFIRM_BOXES", "1", 1);
    setenv("LAUNCHER_ABORT_ON_ASSERT", "1", 1);
    std::vector<std::string> argv = {exe.ToStdString()};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

} // namespace

wxString LauncherProcess::Install(const wxString& installDir, const wxString& name)
{
    const wxString target = installDir + "/" + name;
    if (!wxFileName::FileExists(target)) {
        EXPECT_TRUE(wxCopyFile(LAUNCHER_EXE, target));
        chmod(target.fn_str(), 0755);
    }
    return target;
}

LauncherProcess::LauncherProcess(const wxString& dir, const std::vector<std::string>& args,
                                 const wxString& exeName, const wxString& workDir)
    : installDir(dir), earlierLogs(LogFiles(dir)),
      process(LauncherCommand(Install(dir, exeName), args), (workDir.empty() ? dir : workDir).ToStdString())
{
}

std::string LauncherProcess::LogText() const
{
    const wxArrayString logs = LogFiles(installDir);
    if (logs.empty() || earlierLogs.Index(logs.Last()) != wxNOT_FOUND)
        return std::string();
    return ReadFileBytes(logs.Last());
}

bool LauncherProcess::WaitForLog(const std::string& text, std::chrono::seconds timeout)
{
    const auto logged = [&] { return LogText().find(text + "\n") != std::string::npos; };
    // The last lines of a process that ended are in its log already.
    return WaitUntil([&] { return logged() || !Running(); }, timeout) && logged();
}

namespace {

// What xdotool prints for a search of the shown windows of the process with
// exactly this title, followed by more commands.
std::string Xdotool(pid_t pid, const std::string& title, const std::vector<std::string>& more = {})
{
    std::vector<std::string> args = {"/usr/bin/xdotool", "search",         "--all",
                                     "--onlyvisible",    "--pid",          std::to_string(pid),
                                     "--name",           "^" + title + "$"};
    args.insert(args.end(), more.begin(), more.end());
    ChildProcess xdotool(args);
    xdotool.Wait();
    return xdotool.Out();
}

} // namespace

bool LauncherProcess::WaitForWindow(const std::string& title, std::chrono::seconds timeout) const
{
    return WaitUntil([&] { return IsWindowShown(title); }, timeout);
}

bool LauncherProcess::IsWindowShown(const std::string& title) const
{
    return process.Pid() > 0 && !Xdotool(process.Pid(), title).empty();
}

void LauncherProcess::ClickFromBottomRight(const std::string& title, int dx, int dy) const
{
    // Lines "WINDOW=id", "X=...", "WIDTH=..." and so on.
    const std::string shell = "\n" + Xdotool(process.Pid(), title, {"getwindowgeometry", "--shell", "%1"});
    const auto value = [&](const std::string& name) {
        const std::size_t at = shell.find("\n" + name + "=");
        return at == std::string::npos ? 0 : std::atoi(shell.c_str() + at + name.size() + 2);
    };
    // Raised first: another test's window on the shared display may cover it, and
    // must not take the click.
    const std::string window = std::to_string(value("WINDOW"));
    if (value("WINDOW") != 0)
        ChildProcess({"/usr/bin/xdotool", "windowraise", window, "mousemove", "--window", window,
                      std::to_string(value("WIDTH") - dx), std::to_string(value("HEIGHT") - dy), "click",
                      "1"})
            .Wait();
}
