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
#include <regex>
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

size_t PositionOf(const std::string& log, const std::string& text)
{
    size_t at = log.find(text);
    EXPECT_NE(at, std::string::npos) << "missing: " << text << "\nlog:\n" << log;
    return at;
}

TEST_F(LauncherRun, NormalStartLogsInOrderOpensTheWindowAndClosesCleanly)
{
    LauncherProcess launcher(install.Path());
    ASSERT_TRUE(launcher.WaitForLog(READY)) << launcher.LogText() << launcher.StandardError();
    ASSERT_TRUE(launcher.WaitForWindow("Launcher"));
    EXPECT_TRUE(wxFileExists(install.File("pt/launcher.mo"))) << "the catalog is written at every start";

    const std::string log = launcher.LogText();
    const size_t ready = PositionOf(log, "Logging ready.");
    const size_t loading = PositionOf(log, "Loading config file: " + install.File("launcher.conf").ToStdString());
    const size_t baseUrl = PositionOf(log, "Config: Found base URL: http://127.0.0.1:9/vlr2update/");
    const size_t noUser = PositionOf(log, "No user config file found.");
    const size_t gui = PositionOf(log, READY);
    EXPECT_LT(ready, loading);
    EXPECT_LT(loading, baseUrl);
    EXPECT_LT(baseUrl, noUser);
    EXPECT_LT(noUser, gui);
    EXPECT_EQ(log.find("The game is already running."), std::string::npos);

    const std::regex stamped(R"(\[\d\d/\d\d/\d\d \d\d:\d\d:\d\d\]: .*)");
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(std::regex_match(line, stamped)) << line;

    // Closing the window ends the process through the normal shutdown.
    const int status = launcher.Stop(SIGTERM);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(LockFiles().size(), 1u) << "the lock file stays on disk after exit";
}

TEST_F(LauncherRun, SecondLauncherSeesTheFirstAndAStaleLockIsCleared)
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
    NextSecond();
    LauncherProcess third(install.Path());
    ASSERT_TRUE(third.WaitForLog(READY)) << third.LogText();
    EXPECT_EQ(third.LogText().find("The game is already running."), std::string::npos);
    const wxArrayString locks = LockFiles();
    ASSERT_EQ(locks.size(), 1u);
    EXPECT_NE(locks[0], firstLock);
}

TEST_F(LauncherRun, HeldGameLockCountsAsRunning)
{
    install.Write("lock/com.marvex.Velorian42.lck", "\n");
    LockHolder game(install.File("lock/com.marvex.Velorian42.lck"));
    ASSERT_TRUE(game.Locked());

    LauncherProcess launcher(install.Path());
    EXPECT_TRUE(launcher.WaitForLog(READY));
    EXPECT_NE(launcher.LogText().find("The game is already running."), std::string::npos);
    EXPECT_TRUE(wxFileExists(install.File("lock/com.marvex.Velorian42.lck")));
}

TEST_F(LauncherRun, RelaunchWaitsThreeSecondsBeforeTheWindow)
{
    const auto start = std::chrono::steady_clock::now();
    LauncherProcess launcher(install.Path(), {"--relaunch"});
    ASSERT_TRUE(launcher.WaitForLog(READY)) << launcher.LogText();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

TEST_F(LauncherRun, UnknownOptionShowsUsageAndStartsAnyway)
{
    LauncherProcess launcher(install.Path(), {"--bogus"});
    ASSERT_TRUE(launcher.WaitForLog(READY)) << launcher.LogText();
    EXPECT_NE(launcher.StandardError().find("Usage:"), std::string::npos) << launcher.StandardError();
    EXPECT_NE(launcher.StandardError().find("--relaunch"), std::string::npos);
}

TEST_F(LauncherRun, PositionalWordAndUpdatedSwitchStartNormally)
{
    LauncherProcess word(install.Path(), {"anything"});
    EXPECT_TRUE(word.WaitForLog(READY)) << word.LogText();
    word.Stop(SIGTERM);
    NextSecond();
    LauncherProcess updated(install.Path(), {"--updated"});
    EXPECT_TRUE(updated.WaitForLog(READY)) << updated.LogText();
    EXPECT_EQ(updated.StandardError().find("Usage:"), std::string::npos);
}

TEST_F(LauncherRun, MissingLauncherConfIsLoggedAndStartUpContinues)
{
    wxRemoveFile(install.File("launcher.conf"));
    LauncherProcess launcher(install.Path());
    ASSERT_TRUE(launcher.WaitForLog(READY));
    EXPECT_NE(launcher.LogText().find("Config File " + install.File("launcher.conf").ToStdString() +
                                      " not found, please contact support."),
              std::string::npos);
}

}  // namespace
