#pragma once

#include <atomic>

// A request to end work early: set by the thread that wants the work to end,
// seen by the workers between their steps and by their transfers while they
// wait for data. Safe from any thread.
class Cancellation {
public:
    void Request() { requested.store(true); }
    void Clear() { requested.store(false); }
    bool IsRequested() const { return requested.load(); }

private:
    std::atomic<bool> requested{false};
};
