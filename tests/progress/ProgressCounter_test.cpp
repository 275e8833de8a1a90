#include "progress/ProgressCounter.h"

#include <gtest/gtest.h>

namespace {

// A counter whose updates carry their own times, fed once a second from 1 s.
ProgressCounter FedCounter(int bytesPerSecond, int seconds)
{
    ProgressCounter counter([] { return std::int64_t{0}; });
    counter.SetRange(1000000);
    for (int second = 1; second <= seconds; ++second)
        counter.Update(counter.Position() + bytesPerSecond, second * 1000);
    return counter;
}

TEST(ProgressCounter, SamplesOnlyMoreThan200MillisecondsAfterTheLastUpdate)
{
    ProgressCounter counter = FedCounter(2000, 3);
    ASSERT_EQ(counter.Rate(), 2000);

    counter.Update(9000, 3200);
    EXPECT_EQ(counter.Rate(), 2000) << "200 ms is too soon for a sample";
    counter.Update(9000, 3401);
    EXPECT_EQ(counter.Rate(), 3000) << "7000 bytes since the first sample over 2200 ms";

    // A clock that jumps back counts as standing still, so 3500 is only 99 ms later.
    counter.Update(12000, 1000);
    counter.Update(12000, 3500);
    EXPECT_EQ(counter.Rate(), 3000);
}

TEST(ProgressCounter, WindowForgetsSamplesOlderThanTenSeconds)
{
    ProgressCounter counter = FedCounter(10000, 5);
    for (int second = 6; second <= 15; ++second)
        counter.Update(counter.Position(), second * 1000);

    // Averaged over the whole transfer the rate would still read 2000 B/s.
    EXPECT_EQ(counter.Rate(), 0);
    EXPECT_EQ(counter.TimeLeft(), ProgressCounter::UNKNOWN);
}

} // namespace
