#pragma once

#include "support/TempDir.h"

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

// A program that a test runs to its end or stops, started in workDir (empty:
// the test's own), its standard output and error kept in files of their own.
// It is killed when the object goes while it still runs, or when the thread that
// started it ends (so with the test process).
class ChildProcess {
public:
    // argv[0] is the program's full path.
    explicit ChildProcess(const std::vector<std::string>& argv, const std::string& workDir = "");
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Waits for the program to end by itself: its exit code, or -1 when a
    // signal ended it or it still runs after timeout.
    int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(60));
    // Sends signal unless the program has ended, then waits as Wait does.
    int Stop(int signal);
    // Reaps the program once it has ended.
    bool Running();
    // -1 once the program has ended.
    pid_t Pid() const { return pid; }
    std::string Out() const { return output.Read("out"); }
    std::string Err() const { return output.Read("err"); }

private:
    TempDir output;
    pid_t pid = -1;
    int status = 0;
};
