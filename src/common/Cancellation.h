#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

// A request to end work early: set by the thread that wants the work to end,
// seen by the workers between their steps and by their transfers while they
// wait for data. Safe from any thread.
class Cancellation {
public:
    Cancellation() = default;
    // Requested also whenever parent is, for work that can end on its own
    // as well as with the work around it; parent must outlive this object.
    explicit Cancellation(const Cancellation* parent) : parent(parent) {}

    void Request();
    void Clear() { requested.store(false); }
    bool IsRequested() const { return requested.load() || (parent != nullptr && parent->IsRequested()); }

    // Waits for duration, cut short by a request; true when the whole time
    // passed. A request of this object ends the wait at once, one of a
    // parent's within a tenth of a second.
    bool Sleep(std::chrono::milliseconds duration) const;

private:
    std::atomic<bool> requested{false};
    const Cancellation* parent = nullptr;
    mutable std::mutex mutex;
    mutable std::condition_variable requestMade;
};
