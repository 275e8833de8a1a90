#include "common/Cancellation.h"
#include "common/RetryBursts.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The attempt (counted from 1) after which each pause comes, and its length.
TEST(RetryBursts, PausesAfterEachBurstOneSecondLongerUpToFive)
{
    const std::pair<int, std::vector<std::pair<int, int>>> cases[] = {
        {10, {{10, 1}, {20, 2}, {30, 3}, {40, 4}, {50, 5}, {60, 5}, {70, 5}}},
        {11, {{11, 1}, {22, 2}, {33, 3}, {44, 4}, {55, 5}, {66, 5}}}};
    for (const auto& [burst, expected] : cases) {
        RetryBursts retries(burst);
        std::vector<std::pair<int, int>> pauses;
        for (int attempt = 1; attempt <= 70; ++attempt) {
            if (const int pause = retries.Fail(); pause > 0) {
                pauses.emplace_back(attempt, pause);
                EXPECT_EQ(retries.Failures(), burst);
            }
        }
        EXPECT_EQ(pauses, expected) << burst;
    }
}

// A stop must end a pause at once, not when it runs out; a parent's stop too.
TEST(Cancellation, RequestCutsASleepShort)
{
    Cancellation parent, own, child(&parent);
    const std::pair<Cancellation*, Cancellation*> cases[] = {{&own, &own}, {&child, &parent}};
    for (const auto& [sleeper, requester] : cases) {
        std::thread stopper([requester = requester] {
            std::this_thread::sleep_for(100ms);
            requester->Request();
        });
        const auto start = Clock::now();
        EXPECT_FALSE(sleeper->Sleep(5s));
        EXPECT_LT(Clock::now() - start, 400ms);
        stopper.join();
    }
}

} // namespace
