#include "ui/EventLoopProbe.h"

#include <wx/log.h>

#include <algorithm>

namespace {

constexpr std::chrono::milliseconds TICK(10);

} // namespace

EventLoopProbe::EventLoopProbe() : lastTick(std::chrono::steady_clock::now())
{
    Start(TICK.count());
}

EventLoopProbe::~EventLoopProbe()
{
    wxLogMessage("Event loop: longest delay %ld ms in %ld ticks of %ld ms.",
                 static_cast<long>(longestDelay.count()), ticks, static_cast<long>(TICK.count()));
}

void EventLoopProbe::Notify()
{
    const auto now = std::chrono::steady_clock::now();
    const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(now - lastTick);
    longestDelay = std::max(longestDelay, gap - TICK);
    lastTick = now;
    ++ticks;
}
