#pragma once

#include <wx/string.h>

#include <atomic>
#include <vector>

// Starting other programs: a downloaded launcher to hand over to, and the
// game. What the Windows launcher does through the shell becomes here:
// - a program is started directly, without a shell, with exactly the given
//   arguments: a path with spaces stays one argument and nothing is quoted;
// - there is no administrators check and no "runas" retry: the game must
//   never need root;
// - a start that fails reports errno where Windows gives the shell's result code;
// - files unpacked from the update's archives may carry no mode bits, so the
//   launcher gives the game executable its execute bits first (MakeExecutable).
namespace platform {

// Identifies a child started by StartProcess.
using ProcessId = long;

// Starts the program argv[0] with the arguments argv, without a shell and
// without waiting for it. It inherits no open file but the standard ones, so
// it never holds this process's locks. Its process id, or 0 when it could not start.
long StartDetached(const std::vector<wxString>& argv);

// True when path names the file this process runs from.
bool IsRunningExecutable(const wxString& path);

// Starts the program argv[0] with the arguments argv in workingDir, without a
// shell, as a child that inherits only the standard streams. 0 with pid set,
// or the errno of the failure.
int StartProcess(const std::vector<wxString>& argv, const wxString& workingDir, ProcessId& pid);

// Waits until that one child has ended and reaps it; false when stop was set
// first, within about 100 ms, leaving the child running.
bool WaitForProcess(ProcessId pid, const std::atomic<bool>& stop);

// Adds execute permission wherever the regular file at path grants read
// permission; false for anything else (a symbolic link included) or when the
// mode cannot be changed.
bool MakeExecutable(const wxString& path);

} // namespace platform
