#include "progress/ProgressNotifier.h"

#include "progress/LauncherEvents.h"
#include "support/EventRecorder.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

// The notifier on a clock of the test's, and what the window shows once it
// has run the events posted so far.
class ProgressNotifierTest : public testing::Test {
protected:
    void AddAfterOneSecond(int units)
    {
        now += 1000;
        notifier.AddProgress(units);
    }

    int Shown(wxEventType type) const
    {
        const std::vector<int> values = recorder.Values(type);
        return values.empty() ? -1 : values.back();
    }
    // Position and range.
    std::pair<int, int> Gauge() const
    {
        return {Shown(wxEVT_PROGRESS_UPDATED), Shown(wxEVT_PROGRESS_RANGE_UPDATED)};
    }
    std::string Status() const { return recorder.Texts().empty() ? "" : recorder.Texts().back(); }

    std::int64_t now = 0;
    EventRecorder recorder;
    ProgressNotifier notifier{&recorder, [this] { return now; }};
};

// Small ranges show every step; large ones move about a thousand times, which
// the window's thread can follow.
TEST_F(ProgressNotifierTest, TheGaugeFollowsTheWorkWithoutFloodingTheWindow)
{
    notifier.SetRange(10);
    notifier.AddProgress(1);
    EXPECT_EQ(Shown(wxEVT_PROGRESS_UPDATED), 1);
    notifier.SetRange(1000000);
    EXPECT_EQ(Shown(wxEVT_PROGRESS_UPDATED), 0) << "a new operation starts with an empty gauge";
    recorder.Take();
    for (int i = 0; i < 1000000; ++i)
        notifier.AddProgress(1);
    EXPECT_LE(recorder.Values(wxEVT_PROGRESS_UPDATED).size(), 1000u);
    EXPECT_GE(Shown(wxEVT_PROGRESS_UPDATED), 999000);
}

// Two files of 1.5 GB: the gauge's ints are scaled, the sizes shown are not.
// The same template set again, as a worker's next step does, keeps the red of an error.
TEST_F(ProgressNotifierTest, TotalsBeyondTwoGigabytesScaleOnlyTheGaugeAndAnErrorStaysRed)
{
    notifier.SetErrorStatus("${bytesDone} done, ${bytesLeft} left");
    notifier.SetStatus("${bytesDone} done, ${bytesLeft} left", MESSAGE_INFO);
    notifier.SetRange(3000000000);
    AddAfterOneSecond(1500000000);
    EXPECT_EQ(Gauge(), std::pair(750000000, 1500000000));
    EXPECT_EQ(Status(), "1430.51 MB done, 1430.51 MB left");
    EXPECT_EQ(Shown(wxEVT_STATUS_MESSAGE), MESSAGE_ERROR);
}

// An operation too short to be measured shows as 100 of 100; a worker's report
// that comes after the end leaves the gauge full, never beyond.
TEST_F(ProgressNotifierTest, CompleteFillsTheGauge)
{
    notifier.SetRange(5000);
    notifier.AddProgress(2000);
    notifier.Complete();
    EXPECT_EQ(Gauge(), std::pair(100, 100));

    notifier.SetRange(5000);
    AddAfterOneSecond(1000);
    notifier.Complete();
    AddAfterOneSecond(1000);
    EXPECT_EQ(Gauge(), std::pair(5000, 5000));
}

// The player is never told less time than is left, nor any time before a rate is measured;
// a retry keeps the gauge where the installed files left it.
TEST_F(ProgressNotifierTest, StatusTellsNoLessThanTheTruthFromTheStartAndAcrossARetry)
{
    const std::pair<int, std::string> times[] = {
        {60, "less than one minute"}, {104, "2 minutes"}, {121, "3 minutes"}, {3599, "1 hour 00 minutes"}};
    for (const auto& [seconds, text] : times)
        EXPECT_EQ(TimeText(seconds).utf8_string(), text) << seconds;

    notifier.SetRange(1000000);
    notifier.SetStatus("${bytesDone}, ${bytesLeft}${byteRate}, ${timeLeft}");
    const struct {
        int step; // units a second later; -1 for a retry that kept 6000
        const char* status;
        int gauge;
    } steps[] = {
        {0, "0 bytes, 0.95 MB\nundefined rate, unknown time", 0},
        {2000, "1.95 kB, 974.61 kB\nundefined rate, unknown time", 2000},
        {2000, "3.91 kB, 972.66 kB\nundefined rate, unknown time", 4000},
        {2000, "5.86 kB, 970.70 kB\n1.95 kB/s, 9 minutes", 6000},
        {-1, "5.86 kB, 970.70 kB\nundefined rate, unknown time", 6000},
    };
    for (const auto& step : steps) {
        if (step.step < 0) {
            notifier.SetRange(1000000, 6000);
            notifier.SetStatus("retrying");
            notifier.SetStatus("${bytesDone}, ${bytesLeft}${byteRate}, ${timeLeft}");
        } else if (step.step > 0) {
            AddAfterOneSecond(step.step);
        }
        EXPECT_EQ(Status(), step.status);
        EXPECT_EQ(Shown(wxEVT_PROGRESS_UPDATED), step.gauge);
    }
}

} // namespace
