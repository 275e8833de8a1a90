#include "progress/ProgressCounter.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace {

// Rates and times are 32-bit; intermediate results are computed wider and
// clamped so that extreme inputs saturate instead of wrapping.
int Clamp(std::int64_t value, int low, int high)
{
    return static_cast<int>(std::clamp<std::int64_t>(value, low, high));
}

} // namespace

std::int64_t PreciseClockMilliseconds()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
}

ProgressCounter::ProgressCounter(MillisecondClock clock) : clock(std::move(clock))
{
    Reset();
}

void ProgressCounter::Reset(std::int64_t start)
{
    position = start;
    lastTime = 0;
    rate = UNKNOWN;
    timeLeft = UNKNOWN;
    samples.clear();
    resetTime = clock();
}

int ProgressCounter::Elapsed() const
{
    return Clamp(clock() - resetTime, 0, std::numeric_limits<int>::max());
}

void ProgressCounter::Update(std::int64_t newPosition, int time)
{
    time = std::max(time, lastTime);
    // Spaced from the last sample (the reset before the first), not from the
    // last update: updates come far more often than MIN_SPACING.
    const int sampled = samples.empty() ? 0 : samples.back().time;
    if (time - sampled > MIN_SPACING) {
        samples.push_back({time, newPosition});
        Measure();
    }
    lastTime = time;
    position = newPosition;
}

// Runs before lastTime and position move on, so the rate describes the
// window up to the previous update.
void ProgressCounter::Measure()
{
    const int cutoff = lastTime - WINDOW;
    while (!samples.empty() && samples.front().time <= cutoff)
        samples.pop_front();
    rate = MeasureRate();
    timeLeft = MeasureTimeLeft();
}

int ProgressCounter::MeasureRate() const
{
    // Never empty here: the sample just taken is newer than the cutoff.
    const Sample& oldest = samples.front();
    const int span = lastTime - oldest.time;
    if (span < 10)
        return UNKNOWN;
    // Dividing first keeps the rate in whole bytes per millisecond: steps of 1000 B/s.
    const std::int64_t perMillisecond = (position - oldest.position) / span;
    // Saturates below UNKNOWN so an absurdly fast transfer still reads as measured.
    return Clamp(perMillisecond * 1000, std::numeric_limits<int>::min(), UNKNOWN - 1);
}

int ProgressCounter::MeasureTimeLeft() const
{
    if (rate == UNKNOWN || rate == 0)
        return UNKNOWN;
    return Clamp((range - position) / rate, std::numeric_limits<int>::min(), UNKNOWN - 1);
}
