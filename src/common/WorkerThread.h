#pragma once

#include <atomic>
#include <functional>
#include <thread>

class wxLog;

// A thread that runs one job and is joined by its owner, never detached or
// killed: destroying the object waits for the job, so whatever the job uses
// only has to outlive the WorkerThread. A job that should end early watches a
// stop flag of its own.
class WorkerThread {
public:
    explicit WorkerThread(std::function<void()> job);
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Starts the job; false when the system refused a new thread.
    bool Start();
    // Waits until the job has returned; at once when it never started.
    void Join();
    // True from Start until the job has returned.
    bool IsRunning() const { return running.load(); }

    // The log target that the jobs started from now on write to themselves,
    // rather than through the main thread, which the toolkit wakes for every
    // line; nullptr for the latter. The target must outlive those jobs.
    static void SetLogTarget(wxLog* target) { logTarget = target; }

private:
    static inline std::atomic<wxLog*> logTarget{nullptr};

    std::function<void()> job;
    std::thread thread;
    std::atomic<bool> running{false};
};
