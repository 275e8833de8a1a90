#include "app/InstanceLock.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <wx/filefn.h>
#include <wx/filename.h>

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>

namespace {

// Exit code of the flock tool, standing in for any other program, asked to take path at once.
int FlockExitCode(const wxString& path)
{
    const int status = std::system(("flock -n '" + path + "' true 2>/dev/null").fn_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Another open of a lock file conflicts even within one process, and closing
// it is what a crash does: the file stays behind until the next look clears it.
TEST(IsLocked, LiveHoldersCountAndTheFileOfACrashedOneIsCleared)
{
    TempDir install;
    EXPECT_FALSE(IsLocked(LAUNCHER_LOCK_PREFIX, install.Path()));
    auto launcher = CreateLock(wxString(LAUNCHER_LOCK_PREFIX) + "42", install.Path());
    const auto game = CreateLock(wxString(GAME_LOCK_PREFIX) + "123", install.Path());
    ASSERT_TRUE(launcher && game);
    // Nobody holds a directory.
    const wxString directory = install.File(wxString("lock/") + LAUNCHER_LOCK_PREFIX + "7");
    ASSERT_TRUE(wxFileName::Mkdir(directory));
    EXPECT_TRUE(IsLocked(LAUNCHER_LOCK_PREFIX, install.Path()));

    const wxString launcherFile = launcher->Path();
    launcher.reset();
    EXPECT_FALSE(IsLocked(LAUNCHER_LOCK_PREFIX, install.Path()));
    EXPECT_FALSE(wxFileExists(launcherFile));
    EXPECT_TRUE(wxDirExists(directory));
    EXPECT_TRUE(IsLocked(GAME_LOCK_PREFIX, install.Path()));
}

// A launcher restarting into a new one must not leave the lock behind: the
// child started here lives on, reading until its pipe closes.
TEST(CreateLock, HoldsOneNewlineAgainstOtherProgramsButIsNotInherited)
{
    TempDir install;
    std::unique_ptr<InstanceLock> lock = CreateLock("name", install.File("not/yet"));
    ASSERT_TRUE(lock);
    EXPECT_FALSE(CreateLock("name", install.File("not/yet")));
    EXPECT_EQ(install.Read("not/yet/lock/name.lck"), "\n") << "a refusal must not truncate it";
    EXPECT_EQ(FlockExitCode(lock->Path()), 1);

    FILE* started = popen("read line", "w");
    ASSERT_NE(started, nullptr);
    lock.reset();
    EXPECT_EQ(FlockExitCode(install.File("not/yet/lock/name.lck")), 0);
    pclose(started);
    EXPECT_TRUE(CreateLock("name", install.File("not/yet"))) << "over the file that the last holder left";
}

} // namespace
