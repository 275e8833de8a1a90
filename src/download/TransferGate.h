#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>

// What every transfer of one engine asks before it takes bytes in: whether
// the player has paused the download, and how much the shared bandwidth cap
// still allows. The cap is a token bucket that all connections draw from
// together. Safe from any thread.
class TransferGate {
public:
    using Clock = std::chrono::steady_clock;

    // Pausing holds every transfer where it is; resuming lets them go on.
    void SetPaused(bool paused);
    bool IsPaused() const;
    // Bytes per second for all transfers together; 0 for no cap.
    void SetRate(std::int64_t bytesPerSecond);

    // True when a block of size bytes may be taken now, which is then counted
    // against the cap. A block may overdraw the budget: the next ones wait
    // until it is paid back, so the average holds whatever the block sizes.
    bool Admit(std::size_t size);
    // How long a transfer that was not admitted should wait before it asks again.
    std::chrono::milliseconds RetryDelay() const;

private:
    void Refill(Clock::time_point now);

    mutable std::mutex mutex;
    bool paused = false;
    std::int64_t rate = 0;
    // Bytes the cap allows now; negative after an overdraft.
    double budget = 0;
    Clock::time_point refilled = Clock::now();
};
