#include "support/LauncherProcess.h"

#include "support/Polling.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <wx/dir.h>
#include <wx/filefn.h>
#include <wx/filename.h>

#include <cstdlib>
#include <sstream>
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

// The launcher's command line, with what the environment tells every launcher
// that a test starts: a toolkit assertion fails the test instead of being
// logged only. Set here rather than between fork and exec, where only
// async-signal-safe calls belong.
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

// What xdotool prints for these arguments.
std::string Xdotool(std::vector<std::string> args)
{
    args.insert(args.begin(), "/usr/bin/xdotool");
    ChildProcess xdotool(args);
    xdotool.Wait();
    return xdotool.Out();
}

// Identifiers of the shown windows of the process with exactly this title.
std::vector<std::string> ShownWindows(const std::string& title, pid_t pid)
{
    std::istringstream found(Xdotool(
        {"search", "--all", "--onlyvisible", "--pid", std::to_string(pid), "--name", "^" + title + "$"}));
    std::vector<std::string> ids;
    for (std::string id; found >> id;)
        ids.push_back(id);
    return ids;
}

} // namespace

bool LauncherProcess::WaitForWindow(const std::string& title, std::chrono::seconds timeout) const
{
    return WaitUntil([&] { return IsWindowShown(title); }, timeout);
}

bool LauncherProcess::IsWindowShown(const std::string& title) const
{
    return process.Pid() > 0 && !ShownWindows(title, process.Pid()).empty();
}

void LauncherProcess::ClickFromBottomRight(const std::string& title, int dx, int dy) const
{
    const std::vector<std::string> ids =
        process.Pid() > 0 ? ShownWindows(title, process.Pid()) : std::vector<std::string>();
    if (ids.empty())
        return;
    std::istringstream geometry(Xdotool({"getwindowgeometry", "--shell", ids[0]}));
    int width = 0;
    int height = 0;
    for (std::string line; std::getline(geometry, line);) {
        if (line.starts_with("WIDTH="))
            width = std::stoi(line.substr(6));
        if (line.starts_with("HEIGHT="))
            height = std::stoi(line.substr(7));
    }
    Xdotool({"mousemove", "--window", ids[0], std::to_string(width - dx), std::to_string(height - dy),
             "click", "1"});
}
