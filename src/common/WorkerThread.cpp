#include "common/WorkerThread.h"

#include <wx/log.h>

#include <system_error>
#include <utility>

WorkerThread::WorkerThread(std::function<void()> job) : job(std::move(job)) {}

WorkerThread::~WorkerThread()
{
    Join();
}

bool WorkerThread::Start()
{
    running = true;
    try {
        thread = std::thread([this, target = logTarget.load()] {
            if (target != nullptr)
                wxLog::SetThreadActiveTarget(target);
            job();
            running = false;
        });
    } catch (const std::system_error&) {
        running = false;
        return false;
    }
    return true;
}

void WorkerThread::Join()
{
    if (thread.joinable())
        thread.join();
}
