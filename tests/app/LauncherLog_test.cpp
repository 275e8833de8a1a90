#include "app/LauncherLog.h"

#include "common/WorkerThread.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <wx/log.h>

#include <regex>
#include <unistd.h>

namespace {

// Support reads a run by its time stamps; verbose lines only once debug
// logging raised the level.
TEST(LauncherLog, WritesStampedLinesAtTheDefaultLevelUntilClosed)
{
    TempDir install;
    LauncherLog log;
    log.Open(install.File("deep/logs"));
    wxLogMessage("Logging ready.");
    wxLogVerbose("hidden at the default level");
    WorkerThread worker([] { wxLogMessage("from a worker"); });
    ASSERT_TRUE(worker.Start());
    worker.Join();
    wxLog::SetLogLevel(wxLOG_Max);
    wxLogVerbose("shown once raised");
    log.Close();
    wxLog::SetLogLevel(wxLOG_Message);
    wxLogMessage("after close");

    const std::string text = ReadFileBytes(log.FilePath());
    EXPECT_TRUE(
        std::regex_search(text, std::regex(R"(^\[\d\d/\d\d/\d\d \d\d:\d\d:\d\d\]: Logging ready\.\n)")))
        << text;
    EXPECT_EQ(text.find("hidden at the default level"), std::string::npos);
    EXPECT_NE(text.find("]: from a worker\n"), std::string::npos);
    EXPECT_NE(text.find("shown once raised\n"), std::string::npos);
    EXPECT_EQ(text.find("after close"), std::string::npos);

    // A link planted at the name of a later run's log is never written through.
    const wxDateTime later(1, wxDateTime::Jan, 2026);
    ASSERT_EQ(
        symlink(log.FilePath().fn_str(), (install.File("deep/logs/") + log.FileNameFor(later)).fn_str()), 0);
    log.Open(install.File("deep/logs"), later);
    log.Close();
    EXPECT_EQ(ReadFileBytes(log.FilePath()), text);
}

} // namespace
