#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

// Starts a server program for a test. argv[0] is the program's full path. The
// child's stdin and stdout become the given descriptors (-1: /dev/null) and its
// stderr is appended to stderrPath (empty: the test's own stderr); it runs in
// workDir (empty: the test's own). The child is killed when the thread that
// started it ends, so a test process that crashes leaves no server behind.
// Returns the child's id, or -1.
pid_t StartServerProcess(const std::vector<std::string>& argv, int in, int out, const std::string& stderrPath,
                         const std::string& workDir = "");

// A server script of tests/servers run by python3, its stdin and stdout on
// pipes: it prints its port on its first line and ends when its stdin closes.
struct ServerScript {
    pid_t pid = -1;
    int input = -1;  // the script's stdin
    int output = -1; // the script's stdout
};

// Starts the script with args; pid -1 (and a test failure) when it cannot.
ServerScript StartServerScript(const std::string& script, const std::vector<std::string>& args = {});
// One line of the script's output without its end; false when none comes within timeout.
bool ReadServerLine(int output, std::string& line, std::chrono::milliseconds timeout);
// Closes both pipes, which ends the script, and reaps it.
void StopServerScript(ServerScript& server);
