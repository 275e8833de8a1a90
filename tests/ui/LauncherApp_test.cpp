// Runs the real launcher executable in a temporary installation under the test
// display and reads what it wrote.
#include "support/LauncherProcess.h"
#include "support/LockHolder.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <wx/dir.h>

#include <chrono>
#include <csignal>
#include <thread>

namespace {

const char READY[] = "Initial check done. Will load launcher GUI.";

class LauncherRun : public testing::Test {
protected:
    void SetUp() override
    {
        if (getenv("DISPLAY") == nullptr)
            GTEST_SKIP() << "needs an X display (the test command provides Xvfb)";
        install.Write("velorian.exe", "");
        install.Write("launcher.conf", "enableLogDebug=1\nbaseUrl=http://127.0.0.1:9/vlr2update\n"
                                       "gameExecutable=velorian.exe\n");
    }

    wxArrayString LockFiles() const
    {
        wxArrayString files;
        wxDir::GetAllFiles(install.File("lock"), &files, "*.lck", wxDIR_FILES);
        return files;
    }

    // Log file names have one-second resolution; a second launcher started in
    // the same second would truncate the first one's file.
    static void NextSecond() { std::this_thread::sleep_for(std::chrono::milliseconds(1100)); }

    TempDir install;
};

TEST_F(LauncherRun, NormalStartLogsInOrderOpensTheWindowAndClosesCleanly)
{
    LauncherProcess launcher(install.Path());
    ASSERT_TRUE(launcher.WaitForLog(READY)) << launcher.LogText() << launcher.StandardError();
    ASSERT_TRUE(launcher.WaitForWindow("Launcher"));
    EXPECT_TRUE(wxFileExists(install.File("pt/launcher.mo"))) << "the catalog is written at every start";

    const std::string log = launcher.LogText();
    size_t previous = 0;
    for (const std::string& text : {std::string("Logging ready."),
                                    "Loading config file: " + install.File("launcher.conf").ToStdString(),
                                    std::string("Config: Found base URL: http://127.0.0.1:9/vlr2update/"),
                                    std::string("No user config file found."), std::string(READY)}) {
        const size_t at = log.find(text, previous);
        EXPECT_NE(at, std::string::npos) << "missing or out of order: " << text << "\nlog:\n" << log;
        previous = at == std::string::npos ? previous : at;
    }
    EXPECT_EQ(log.find("The game is already running."), std::string::npos);

    // Closing the window ends the process through the normal shutdown.
    const int status = launcher.Stop(SIGTERM);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(LockFiles().size(), 1u) << "the lock file stays on disk after exit";
}

TEST_F(LauncherRun, RunningLauncherOrGameIsSeenAndAStaleLockIsCleared)
{
    LauncherProcess first(install.Path());
    ASSERT_TRUE(first.WaitForLog(READY)) << first.LogText();
    ASSERT_EQ(LockFiles().size(), 1u);
    const wxString firstLock = LockFiles()[0];

    NextSecond();
    {
        LauncherProcess second(install.Path());
        ASSERT_TRUE(second.WaitForLog(READY)) << second.LogText();
        EXPECT_NE(second.LogText().find("The game is already running."), std::string::npos);
        EXPECT_EQ(LockFiles().size(), 2u) << "the second launcher takes a lock of its own";
        second.Stop(SIGKILL);
    }
    first.Stop(SIGKILL);

    // With the launchers dead, only the game's lock counts.
    LockHolder game(install.File("lock/com.marvex.Velorian42.lck"));
    ASSERT_TRUE(game.Locked());
    NextSecond();
    LauncherProcess third(install.Path());
    ASSERT_TRUE(third.WaitForLog(READY)) << third.LogText();
    EXPECT_NE(third.LogText().find("The game is already running."), std::string::npos);
    EXPECT_FALSE(wxFileExists(firstLock));
    EXPECT_TRUE(wxFileExists(install.File("lock/com.marvex.Velorian42.lck")));
    EXPECT_EQ(LockFiles().size(), 2u) << "the game's and the third launcher's";
}

// Neither a bad command line nor a missing launcher.conf stops the start.
TEST_F(LauncherRun, CommandLineAndAMissingConf)
{
    {
        LauncherProcess launcher(install.Path(), {"--bogus"});
        ASSERT_TRUE(launcher.WaitForLog(READY)) << launcher.LogText();
        EXPECT_NE(launcher.StandardError().find("Usage:"), std::string::npos) << launcher.StandardError();
        EXPECT_NE(launcher.StandardError().find("--relaunch"), std::string::npos);
        launcher.Stop(SIGTERM);
    }
    NextSecond();
    wxRemoveFile(install.File("launcher.conf"));
    wxRemoveFile(install.File("stderr.txt")); // appended to by every run
    // A restarted launcher waits for the old one to end before its window.
    const auto start = std::chrono::steady_clock::now();
    LauncherProcess launcher(install.Path(), {"--updated", "--relaunch"});
    ASSERT_TRUE(launcher.WaitForLog(READY)) << launcher.LogText();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(launcher.StandardError().find("Usage:"), std::string::npos) << launcher.StandardError();
    EXPECT_NE(launcher.LogText().find("Config File " + install.File("launcher.conf").ToStdString() +
                                      " not found, please contact support."),
              std::string::npos);
}

} // namespace
