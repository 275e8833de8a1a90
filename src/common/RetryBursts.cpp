#include "common/RetryBursts.h"

#include <algorithm>

RetryBursts::RetryBursts(int attemptsPerBurst, int longestPause)
    : attemptsPerBurst(attemptsPerBurst), longestPause(longestPause)
{
}

int RetryBursts::Fail()
{
    if (failures == attemptsPerBurst)
        failures = 0;
    if (++failures < attemptsPerBurst)
        return 0;
    pause = std::min(pause + 1, longestPause);
    return pause;
}
