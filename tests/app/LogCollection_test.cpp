#include "app/LogCollection.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <wx/filename.h>

#include <utility>

namespace {

// Only the latest "error.log" of the "Crash*" directories is sent: strictly
// later wins, and a directory without one does not count.
TEST(LogCollection, TheNewestCrashReportIsChosen)
{
    TempDir base;
    wxFileName::Mkdir(base.File("Crash-0"));
    EXPECT_EQ(NewestCrashReport(base.Path()), "");
    const std::pair<const char*, int> ages[] = {
        {"Crash-1", 300}, {"Crash-2", 100}, {"Crash-3", 200}, {"Other", 10}};
    for (const auto& [dir, seconds] : ages) {
        base.Write(wxString(dir) + "/error.log", "crash");
        const wxDateTime time = wxDateTime::Now() - wxTimeSpan::Seconds(seconds);
        wxFileName(base.File(wxString(dir) + "/error.log")).SetTimes(nullptr, &time, nullptr);
    }
    EXPECT_EQ(NewestCrashReport(base.Path()), base.File("Crash-2/error.log"));
}

} // namespace
