#pragma once

#include <wx/timer.h>

#include <chrono>

// Measures how long the event loop keeps its events waiting: a timer asks for
// a tick every few milliseconds, and a gap beyond that between two ticks is
// how long the loop was blocked. Each block longer than two ticks is logged,
// so the log tells when it happened. The launcher runs one when
// LAUNCHER_LOOP_PROBE is set, for the benchmark.
class EventLoopProbe : public wxTimer {
public:
    EventLoopProbe();

    void Notify() override;

private:
    std::chrono::steady_clock::time_point lastTick;
};
