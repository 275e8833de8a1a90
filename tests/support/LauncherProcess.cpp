#include "support/LauncherProcess.h"

#include "support/Polling.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wx/dir.h>
#include <wx/filefn.h>
#include <wx/filename.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
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

std::string ReadWhole(const wxString& path)
{
    std::ifstream in(path.fn_str(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
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
    : installDir(dir), earlierLogs(LogFiles(dir))
{
    const std::string exe = Install(installDir, exeName).ToStdString();
    const std::string dirPath = installDir.ToStdString();
    const std::string startDir = workDir.empty() ? dirPath : workDir.ToStdString();
    // Set here rather than between fork and exec, where only async-signal-safe
    // calls belong. A toolkit assertion in the launcher fails the test instead
    // of being logged only.
    setenv("LAUNCHER_CONFIRM_BOXES", "1", 1);
    setenv("LAUNCHER_ABORT_ON_ASSERT", "1", 1);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(exe.c_str()));
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    pid = fork();
    if (pid == 0) {
        if (chdir(startDir.c_str()) != 0)
            _exit(126);
        int err = open((dirPath + "/stderr.txt").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(err, STDERR_FILENO);
        dup2(err, STDOUT_FILENO);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    EXPECT_GT(pid, 0);
}

LauncherProcess::~LauncherProcess()
{
    if (pid > 0)
        Stop(SIGKILL);
}

int LauncherProcess::Stop(int signal)
{
    if (pid > 0) {
        kill(pid, signal);
        waitpid(pid, &exitStatus, 0);
        pid = -1;
    }
    return exitStatus;
}

std::string LauncherProcess::LogText() const
{
    const wxArrayString logs = LogFiles(installDir);
    if (logs.empty() || earlierLogs.Index(logs.Last()) != wxNOT_FOUND)
        return std::string();
    return ReadWhole(logs.Last());
}

std::string LauncherProcess::StandardError() const
{
    return ReadWhole(installDir + "/stderr.txt");
}

bool LauncherProcess::WaitForLog(const std::string& text, std::chrono::seconds timeout)
{
    const auto logged = [&] { return LogText().find(text + "\n") != std::string::npos; };
    // The last lines of a process that ended are in its log already.
    return WaitUntil([&] { return logged() || Ended(); }, timeout) && logged();
}

bool LauncherProcess::Ended()
{
    if (pid > 0 && waitpid(pid, &exitStatus, WNOHANG) == pid)
        pid = -1;
    return pid <= 0;
}

namespace {

std::string CommandOutput(const std::string& command)
{
    std::string text;
    FILE* output = popen(command.c_str(), "r");
    if (output == nullptr)
        return text;
    char buffer[4096];
    size_t read = 0;
    while ((read = fread(buffer, 1, sizeof buffer, output)) > 0)
        text.append(buffer, read);
    pclose(output);
    return text;
}

// Identifiers of the shown windows of the process with exactly this title.
std::vector<std::string> ShownWindows(const std::string& title, pid_t pid)
{
    std::istringstream found(CommandOutput("xdotool search --all --onlyvisible --pid " + std::to_string(pid) +
                                           " --name '^" + title + "$' 2>/dev/null"));
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
    return pid > 0 && !ShownWindows(title, pid).empty();
}

bool LauncherProcess::ClickFromBottomRight(const std::string& title, int dx, int dy) const
{
    const std::vector<std::string> ids = pid > 0 ? ShownWindows(title, pid) : std::vector<std::string>();
    if (ids.empty())
        return false;
    std::istringstream geometry(CommandOutput("xdotool getwindowgeometry --shell " + ids[0]));
    int width = 0;
    int height = 0;
    for (std::string line; std::getline(geometry, line);) {
        if (line.starts_with("WIDTH="))
            width = std::stoi(line.substr(6));
        if (line.starts_with("HEIGHT="))
            height = std::stoi(line.substr(7));
    }
    const std::string click = "xdotool mousemove --window " + ids[0] + " " + std::to_string(width - dx) +
                              " " + std::to_string(height - dy) + " click 1";
    return width > 0 && std::system(click.c_str()) == 0;
}

int LauncherProcess::Wait(std::chrono::seconds timeout)
{
    return WaitUntil([this] { return Ended(); }, timeout) ? exitStatus : -1;
}
