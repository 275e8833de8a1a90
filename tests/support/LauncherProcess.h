#pragma once

#include "support/ChildProcess.h"

#include <wx/arrstr.h>
#include <wx/string.h>

#include <chrono>
#include <string>
#include <vector>

// A real launcher started from a copy of the built one in a test installation,
// by default its current directory; its message boxes are confirmed unseen.
class LauncherProcess {
public:
    // Copies the launcher executable into installDir under name (once) and returns its path.
    static wxString Install(const wxString& installDir, const wxString& name = "launcher");

    LauncherProcess(const wxString& installDir, const std::vector<std::string>& args = {},
                    const wxString& exeName = "launcher", const wxString& workDir = wxString());

    // Waits until LogText() holds a line ending in text; gives up when the process ends.
    bool WaitForLog(const std::string& text, std::chrono::seconds timeout = std::chrono::seconds(30));
    // Text of this process's log: the newest file in installDir/logs that did
    // not exist when it started (runs one second apart get files of their own).
    std::string LogText() const;
    std::string StandardError() const { return process.Err(); }
    // Waits until this process shows a window with exactly this title: it is then
    // past its start-up, with its event loop running, and handles signals.
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
