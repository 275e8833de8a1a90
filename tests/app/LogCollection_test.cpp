#include "app/LogCollection.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <wx/filename.h>

#include <utility>
#include <vector>

namespace {

// Only the latest "error.log" of the "Crash*" directories is sent: strictly
// later wins, and a directory without one does not count.
TEST(LogCollection, TheNewestCrashReportIsChosen)
{
    struct Row {
        std::vector<std::pair<std::string, int>> reports; // directory, age in seconds (-1: no error.log)
        std::string expected;                             // directory, or empty for none
    };
    const Row rows[] = {
        {{{"Crash-1", 300}, {"Crash-2", 100}, {"Crash-3", 200}, {"Other", 10}}, "Crash-2"},
        {{{"Crash-1", -1}, {"CrashDump", -1}}, ""},
    };
    for (const Row& row : rows) {
        TempDir base;
        for (const auto& [dir, age] : row.reports) {
            wxFileName::Mkdir(base.File(dir));
            if (age < 0)
                continue;
            base.Write(dir + "/error.log", "crash");
            const wxDateTime time = wxDateTime::Now() - wxTimeSpan::Seconds(age);
            wxFileName(base.File(dir + "/error.log")).SetTimes(nullptr, &time, nullptr);
        }
        const wxString expected = row.expected.empty() ? wxString() : base.File(row.expected + "/error.log");
        EXPECT_EQ(NewestCrashReport(base.Path()), expected);
    }
}

} // namespace
