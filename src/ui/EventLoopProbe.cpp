#include "ui/EventLoopProbe.h"

#include <wx/log.h>

namespace {

constexpr std::chrono::milliseconds TICK(10);
// Shorter delays are the timer's own jitter.
constexpr std::chrono::milliseconds REPORTED_DELAY(20);

} // namespace

EventLoopProbe::EventLoopProbe() : lastTick(std::chrono::steady_clock::now())
{
    Start(TICK.count());
}

void EventLoopProbe::Notify()
{
    const auto now = std::chrono::steady_clock::now();
    const auto delay = std::chrono::duration_cast<std::chrono::milliseconds>(now - lastTick) - TICK;
    lastTick = now;
    if (delay > REPORTED_DELAY)
        wxLogMessage("Event loop: blocked for %ld ms.", static_cast<long>(delay.count()));
}
