#pragma once

// When to retry an attempt that keeps failing: a burst of attempts in a row
// without a pause, then a pause before the next burst that grows by a second
// after each burst, up to a longest pause (1, 2, 3, 4, 5, 5, ... seconds).
class RetryBursts {
public:
    explicit RetryBursts(int attemptsPerBurst, int longestPause = 5);

    // Counts a failed attempt; the seconds to pause before the next one, or
    // 0 to retry at once. A burst that ended with a pause starts afresh.
    int Fail();
    // Failed attempts in the current burst, the last one counted included.
    int Failures() const { return failures; }

private:
    const int attemptsPerBurst;
    const int longestPause;
    int failures = 0;
    int pause = 0;
};
