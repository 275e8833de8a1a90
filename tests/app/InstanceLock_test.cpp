#include "app/InstanceLock.h"

#include "support/LockHolder.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <wx/filefn.h>
#include <wx/filename.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/wait.h>

namespace {

// Exit code of the flock tool asked to take path at once; 127 when not installed.
int FlockExitCode(const wxString& path)
{
    const int status = std::system(("flock -n '" + path + "' true 2>/dev/null").fn_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Path of name in the lock directory, which is created.
wxString LockFile(const TempDir& install, const wxString& name)
{
    wxFileName::Mkdir(install.File("lock"), wxS_DIR_DEFAULT, wxPATH_MKDIR_FULL);
    return install.File("lock/" + name);
}

} // namespace

// Only files of that prefix count, and only those of dead holders are removed.
TEST(IsLocked, LiveHoldersCountAndTheFileOfACrashedOneIsCleared)
{
    TempDir install;
    EXPECT_FALSE(IsLocked(LAUNCHER_LOCK_PREFIX, install.Path()));
    EXPECT_FALSE(wxDirExists(install.File("lock")));

    const wxString launcherFile = LockFile(install, "com.marvex.playforge.dirmirror.Launcher42.lck");
    const wxString gameFile = LockFile(install, "com.marvex.Velorian123.lck");
    ASSERT_TRUE(wxFileName::Mkdir(LockFile(install, "com.marvex.playforge.dirmirror.Launcher7")));
    LockHolder launcher(launcherFile);
    LockHolder game(gameFile);
    ASSERT_TRUE(launcher.Locked() && game.Locked());
    EXPECT_TRUE(IsLocked(LAUNCHER_LOCK_PREFIX, install.Path()));
    EXPECT_TRUE(IsLocked(GAME_LOCK_PREFIX, install.Path()));

    launcher.Kill();
    EXPECT_FALSE(IsLocked(LAUNCHER_LOCK_PREFIX, install.Path()));
    EXPECT_FALSE(wxFileExists(launcherFile));
    EXPECT_TRUE(wxDirExists(install.File("lock/com.marvex.playforge.dirmirror.Launcher7")));
    EXPECT_TRUE(wxFileExists(gameFile));
}

TEST(CreateLock, HoldsOneNewlineUntilDestroyedOrItsHolderDies)
{
    TempDir install;
    const wxString dir = install.File("not/yet");
    std::unique_ptr<InstanceLock> lock = CreateLock("name", dir);
    ASSERT_TRUE(lock);
    EXPECT_EQ(lock->Path(), install.File("not/yet/lock/name.lck"));
    EXPECT_EQ(install.Read("not/yet/lock/name.lck"), "\n");
    // Another open of the file conflicts even within one process.
    EXPECT_TRUE(IsLocked("name", dir));
    EXPECT_FALSE(CreateLock("name", dir));
    lock.reset();
    EXPECT_TRUE(CreateLock("name", dir));

    // Refused, without truncating it, while another process holds it.
    LockHolder other(LockFile(install, "name.lck"));
    ASSERT_TRUE(other.Locked());
    EXPECT_FALSE(CreateLock("name", install.Path()));
    EXPECT_EQ(install.Read("lock/name.lck"), "\n");
    other.Kill();
    EXPECT_TRUE(CreateLock("name", install.Path()));

    install.Write("blocked/lock", "a file in the way");
    EXPECT_FALSE(CreateLock("name", install.File("blocked")));
}

// The flock tool stands in for any other program that checks the lock.
TEST(CreateLock, OtherProgramsSeeTheLockButDoNotInheritIt)
{
    TempDir install;
    std::unique_ptr<InstanceLock> lock = CreateLock("name", install.Path());
    ASSERT_TRUE(lock);
    const int whileHeld = FlockExitCode(lock->Path());
    if (whileHeld == 127)
        GTEST_SKIP() << "flock tool not installed";
    EXPECT_EQ(whileHeld, 1);

    // A launcher restarting into a new one must not leave the lock behind:
    // this child lives on, reading until its pipe closes.
    FILE* started = popen("read line", "w");
    ASSERT_NE(started, nullptr);
    lock.reset();
    EXPECT_EQ(FlockExitCode(install.File("lock/name.lck")), 0);
    pclose(started);
}

TEST(CreateRandomLock, SecondLauncherInTheSameSecondGetsNone)
{
    TempDir install;
    std::time_t started;
    std::unique_ptr<InstanceLock> first;
    std::unique_ptr<InstanceLock> second;
    do {
        started = std::time(nullptr);
        first = CreateRandomLock(LAUNCHER_LOCK_PREFIX, install.Path());
        second = CreateRandomLock(LAUNCHER_LOCK_PREFIX, install.Path());
    } while (std::time(nullptr) != started);

    ASSERT_TRUE(first);
    EXPECT_FALSE(second);
    std::srand(static_cast<unsigned>(started));
    EXPECT_EQ(wxFileName(first->Path()).GetFullName(),
              wxString::Format("%s%d.lck", LAUNCHER_LOCK_PREFIX, std::rand()));
}
