#include "progress/ProgressCounter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

// A transfer that stalls: its rate is that of the last ten seconds, not of
// the whole transfer. The updates carry their own times.
TEST(ProgressCounter, WindowForgetsSamplesOlderThanTenSeconds)
{
    ProgressCounter counter([] { return std::int64_t{0}; });
    counter.SetRange(1000000);
    for (int second = 1; second <= 15; ++second)
        counter.Update(second <= 5 ? second * 10000 : 50000, second * 1000);

    // Averaged over the whole transfer the rate would still read 2000 B/s.
    EXPECT_EQ(counter.Rate(), 0);
    EXPECT_EQ(counter.TimeLeft(), ProgressCounter::UNKNOWN);
}

// Received at 1 MiB/s and reported every 20 ms, as reads come in: the rate
// read is that of the bytes, on the clock that the window uses.
TEST(ProgressCounter, RateIsThatOfTheBytesReportedManyTimesASecond)
{
    using namespace std::chrono;
    ProgressCounter counter;
    counter.SetRange(100 << 20);
    const auto start = steady_clock::now();
    for (auto next = start; next < start + milliseconds(1700); next += milliseconds(20)) {
        std::this_thread::sleep_until(next);
        const double seconds = duration<double>(steady_clock::now() - start).count();
        counter.Update(static_cast<std::int64_t>(seconds * (1 << 20)), counter.Elapsed());
    }
    EXPECT_NEAR(counter.Rate(), 1 << 20, (1 << 20) / 20);
}

} // namespace
