#include "app/LauncherLog.h"

#include "common/WorkerThread.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <wx/filename.h>

#include <regex>

namespace {

TEST(LauncherLog, WritesStampedLinesAtTheDefaultLevelUntilClosed)
{
    TempDir install;
    const wxString logDir = install.File("deep/logs");
    {
        LauncherLog log;
        log.Open(logDir);
        ASSERT_TRUE(wxFileName::FileExists(log.FilePath()));
        EXPECT_EQ(wxFileName(log.FilePath()).GetPath(), logDir);

        wxLogMessage("Logging ready.");
        wxLogVerbose("hidden at the default level");
        wxLogWarning("a warning");
        WorkerThread worker([] { wxLogMessage("from a worker"); });
        ASSERT_TRUE(worker.Start());
        worker.Join();
        wxLog::SetLogLevel(wxLOG_Max);
        wxLogVerbose("shown once raised");
        log.Close();
        wxLogMessage("after close");

        wxFileName file(log.FilePath());
        std::string text = install.Read("deep/logs/" + file.GetFullName());
        EXPECT_TRUE(
            std::regex_search(text, std::regex(R"(^\[\d\d/\d\d/\d\d \d\d:\d\d:\d\d\]: Logging ready\.\n)")))
            << text;
        EXPECT_EQ(text.find("hidden at the default level"), std::string::npos);
        EXPECT_NE(text.find("Warning: a warning\n"), std::string::npos);
        EXPECT_NE(text.find("]: from a worker\n"), std::string::npos);
        EXPECT_NE(text.find("shown once raised\n"), std::string::npos);
        EXPECT_EQ(text.find("after close"), std::string::npos);
    }
    wxLog::SetLogLevel(wxLOG_Message);
}

TEST(LauncherLog, UncreatableDirectoryReportsThroughTheActiveTarget)
{
    TempDir install;
    install.Write("logs", "a file where the directory should be");
    LogCapture captured;
    LauncherLog log;
    log.Open(install.File("logs/inner"));
    EXPECT_TRUE(captured.Has(wxLOG_Error, "Could not create logging directory " +
                                              install.File("logs/inner").ToStdString()));
    EXPECT_EQ(wxLog::GetActiveTarget(), &captured);
    EXPECT_TRUE(wxFileName(log.FilePath()).GetFullName().StartsWith("launcher_log-"));
    EXPECT_FALSE(wxFileName::FileExists(log.FilePath()));
}

} // namespace
