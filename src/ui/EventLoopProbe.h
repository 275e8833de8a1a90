#pragma once

#include <wx/timer.h>

#include <chrono>

// Measures how long the event loop keeps its events waiting: a timer asks for
// a tick every few milliseconds, and the longest gap beyond that between two
// ticks is how long the loop was blocked at worst. Logs it when destroyed.
// The launcher runs one when LAUNCHER_LOOP_PROBE is set, for the benchmark.
class EventLoopProbe : public wxTimer {
public:
    EventLoopProbe();
    ~EventLoopProbe() override;

    void Notify() override;

private:
    std::chrono::steady_clock::time_point lastTick;
    std::chrono::milliseconds longestDelay{0};
    long ticks = 0;
};
