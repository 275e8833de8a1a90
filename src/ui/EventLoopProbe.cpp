#include "ui/EventLoopProbe.h"

#include <wx/log.h>

namespace {

constexpr std::chrono::milliseconds TICK(10);

} // namespace

// Delays up to one tick are the timer's own jitter and go unreported.
EventLoopProbe::EventLoopProbe() : lastTick(std::chrono::steady_clock::now()), longestDelay(TICK)
{
    Start(TICK.count());
}

void EventLoopProbe::Notify()
{
    const auto now = std::chrono::steady_clock::now();
    const auto delay = std::chrono::duration_cast<std::chrono::milliseconds>(now - lastTick) - TICK;
    lastTick = now;
    if (delay <= longestDelay)
        return;
    longestDelay = delay;
    wxLogMessage("Event loop: longest delay so far %ld ms.", static_cast<long>(delay.count()));
}
