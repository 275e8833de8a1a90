#include "common/Cancellation.h"

#include <algorithm>

namespace {

// How long a wait goes without looking at the parent's request.
constexpr auto PARENT_POLL = std::chrono::milliseconds(100);

} // namespace

void Cancellation::Request()
{
    {
        // Under the lock, so that a waiter between its check and its wait cannot miss it.
        std::lock_guard lock(mutex);
        requested.store(true);
    }
    requestMade.notify_all();
}

bool Cancellation::Sleep(std::chrono::milliseconds duration) const
{
    const auto end = std::chrono::steady_clock::now() + duration;
    std::unique_lock lock(mutex);
    while (!IsRequested()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= end)
            return true;
        requestMade.wait_for(lock, std::min<std::chrono::steady_clock::duration>(end - now, PARENT_POLL));
    }
    return false;
}
