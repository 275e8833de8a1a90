#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <limits>

// Milliseconds since some fixed moment; only differences matter.
using MillisecondClock = std::function<std::int64_t()>;

// The monotonic clock to the millisecond. Unlike the wall clock it never
// jumps, and it stays clear of the C library's time-zone state, which every
// thread that asks for the local time shares. Counted in whole seconds, as
// the rate once was, a transfer reported in bursts read up to a third faster
// than the bytes it received.
std::int64_t PreciseClockMilliseconds();

// Counts the units of one operation and measures its rate and time left over
// a sliding window of samples. Units are 64-bit, as an update may pass 4 GiB;
// rate and time left are ints and saturate. Not synchronised: its owner guards it.
class ProgressCounter {
public:
    // Rate and time left when they cannot be measured.
    static constexpr int UNKNOWN = std::numeric_limits<int>::max();

    explicit ProgressCounter(MillisecondClock clock = PreciseClockMilliseconds);

    // Starts a new operation at position start. Rate and time left are
    // unknown until measured: the last operation's would be a guess.
    void Reset(std::int64_t start = 0);
    void SetRange(std::int64_t units) { range = units; }
    // Milliseconds since the last reset.
    int Elapsed() const;
    // Moves to position at time (elapsed milliseconds), measuring the rate
    // when the last sample is old enough.
    void Update(std::int64_t newPosition, int time);

    std::int64_t Range() const { return range; }
    std::int64_t Position() const { return position; }
    int Rate() const { return rate; }
    int TimeLeft() const { return timeLeft; }
    bool HasSamples() const { return !samples.empty(); }

private:
    struct Sample {
        int time;
        std::int64_t position;
    };

    static constexpr int WINDOW = 10000;
    static constexpr int MIN_SPACING = 200;

    void Measure();
    int MeasureRate() const;
    int MeasureTimeLeft() const;

    MillisecondClock clock;
    std::int64_t range = 0;
    int lastTime = 0;
    std::int64_t position = 0;
    std::int64_t resetTime = 0;
    int timeLeft = UNKNOWN;
    int rate = UNKNOWN;
    std::deque<Sample> samples;
};
