#pragma once

#include "support/ChildProcess.h"

#include <wx/arrstr.h>
#include <wx/string.h>

#include <chrono>
#include <string>
#include <vector>

// A real launcher process started from a copy of the built executable inside a
// test installation directory, by default with that directory as its current
// directory. Its message boxes are confirmed without being shown, and logged.
class LauncherProcess {
public:
    // Copies the launcher executable into installDir under name (once) and returns its path.
    static wxString Install(const wxString& installDir, const wxString& name = "launcher");

    LauncherProcess(const wxString& installDir, const std::vector<std::string>& args = {},
                    const wxString& exeName = "launcher", const wxString& workDir = wxString());

    // Waits until the newest log file of the installation holds a line ending in text.
    // Gives up early when the process ends.
    bool WaitForLog(const std::string& text, std::chrono::seconds timeout = std::chrono::seconds(30));
    // Text of this process's log: the newest file in installDir/logs that did
    // not exist when it started (runs one second apart get files of their own).
    std::string LogText() const;
    std::string StandardError() const { return process.Err(); }
    // Waits until this process shows a window with exactly this title. It is
    // mapped only once the toolkit's event loop runs, so the program is then
    // past its start-up and handles signals.
    bool WaitForWindow(const std::string& title,
                       std::chrono::seconds timeout = std::chrono::seconds(30)) const;
    bool IsWindowShown(const std::string& title) const;
    // Clicks into this process's window of that title, dx and dy pixels left of
    // and above its bottom right corner, as a player would with the mouse.
    void ClickFromBottomRight(const std::string& title, int dx, int dy) const;

    // The exit code once the launcher ended by itself, as ChildProcess::Wait gives it.
    int Wait(std::chrono::seconds timeout) { return process.Wait(timeout); }
    int Stop(int signal) { return process.Stop(signal); }
    bool Running() { return process.Running(); }

private:
    wxString installDir;
    wxArrayString earlierLogs;
    ChildProcess process;
};
