#include "progress/ProgressCounter.h"

#include <gtest/gtest.h>

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

} // namespace
