#include "download/TransferGate.h"

#include <algorithm>

namespace {

// A quarter of a second of the cap may be taken at once after a quiet spell.
constexpr double BURST_SECONDS = 0.25;
// How often a held transfer looks again while nothing else would wake it.
constexpr auto HOLD_SLICE = std::chrono::milliseconds(100);

} // namespace

void TransferGate::SetPaused(bool pause)
{
    std::lock_guard lock(mutex);
    paused = pause;
}

bool TransferGate::IsPaused() const
{
    std::lock_guard lock(mutex);
    return paused;
}

void TransferGate::SetRate(std::int64_t bytesPerSecond)
{
    std::lock_guard lock(mutex);
    rate = std::max<std::int64_t>(bytesPerSecond, 0);
    budget = 0;
    refilled = Clock::now();
}

bool TransferGate::Admit(std::size_t size)
{
    std::lock_guard lock(mutex);
    if (paused)
        return false;
    if (rate == 0)
        return true;
    Refill(Clock::now());
    if (budget <= 0)
        return false;
    budget -= static_cast<double>(size);
    return true;
}

std::chrono::milliseconds TransferGate::RetryDelay() const
{
    std::lock_guard lock(mutex);
    if (paused || rate == 0)
        return HOLD_SLICE;
    const auto owed =
        std::chrono::milliseconds(static_cast<std::int64_t>(std::max(-budget, 0.0) * 1000 / rate) + 1);
    return std::min<std::chrono::milliseconds>(owed, HOLD_SLICE);
}

void TransferGate::Refill(Clock::time_point now)
{
    const double seconds = std::chrono::duration<double>(now - refilled).count();
    budget =
        std::min(budget + seconds * static_cast<double>(rate), BURST_SECONDS * static_cast<double>(rate));
    refilled = now;
}
