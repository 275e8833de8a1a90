#include "app/InstanceLock.h"

#include "support/LockHolder.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <wx/filefn.h>
#include <wx/filename.h>

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

// Starts a program from PATH; -1 if it could not be started.
pid_t Spawn(std::vector<std::string> args)
{
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    return posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

// Waits for pid; its exit code, or -1 if it was killed.
int ExitCode(pid_t pid)
{
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Path of name in the lock directory, which is created.
wxString LockFile(const TempDir& install, const wxString& name)
{
    wxFileName::Mkdir(install.File("lock"), wxS_DIR_DEFAULT, wxPATH_MKDIR_FULL);
    return install.File("lock/" + name);
}

}  // namespace

TEST(IsLocked, IgnoresWhatIsNotALiveLockOfThatPrefix)
{
    TempDir install;
    EXPECT_FALSE(IsLocked(LAUNCHER_LOCK_PREFIX, install.Path()));
    EXPECT_FALSE(wxDirExists(install.File("lock")));

    ASSERT_TRUE(wxFileName::Mkdir(LockFile(install, "com.marvex.Velorian7")));
    install.Write("lock/com.marvex.playforge.dirmirror.Launcher1.lck", "\n");
    install.Write("lock/other.lck", "\n");
    EXPECT_FALSE(IsLocked(GAME_LOCK_PREFIX, install.Path()));
    EXPECT_TRUE(wxDirExists(install.File("lock/com.marvex.Velorian7")));
    EXPECT_TRUE(wxFileExists(install.File("lock/com.marvex.playforge.dirmirror.Launcher1.lck")));
    EXPECT_TRUE(wxFileExists(install.File("lock/other.lck")));
}

TEST(IsLocked, LiveHoldersCountAndTheFileOfACrashedOneIsCleared)
{
    TempDir install;
    const wxString launcherFile = LockFile(install, "com.marvex.playforge.dirmirror.Launcher42.lck");
    const wxString gameFile = LockFile(install, "com.marvex.Velorian123.lck");
    LockHolder launcher(launcherFile);
    LockHolder game(gameFile);
    ASSERT_TRUE(launcher.Locked());
    ASSERT_TRUE(game.Locked());

    EXPECT_TRUE(IsLocked(LAUNCHER_LOCK_PREFIX, install.Path()));
    EXPECT_TRUE(IsLocked(GAME_LOCK_PREFIX, install.Path()));
    EXPECT_EQ(install.Read("lock/com.marvex.playforge.dirmirror.Launcher42.lck"), "\n");

    launcher.Kill();
    EXPECT_FALSE(IsLocked(LAUNCHER_LOCK_PREFIX, install.Path()));
    EXPECT_FALSE(wxFileExists(launcherFile));
    EXPECT_TRUE(wxFileExists(gameFile));
}

TEST(CreateLock, HoldsOneNewlineUntilDestroyedAndCanBeRetaken)
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
    EXPECT_TRUE(wxFileExists(install.File("not/yet/lock/name.lck")));
    lock = CreateLock("name", dir);
    ASSERT_TRUE(lock);
    EXPECT_EQ(install.Read("not/yet/lock/name.lck"), "\n");
}

TEST(CreateLock, FailsWhenAnotherProcessHoldsTheName)
{
    TempDir install;
    LockHolder other(LockFile(install, "name.lck"));
    ASSERT_TRUE(other.Locked());
    EXPECT_FALSE(CreateLock("name", install.Path()));
    EXPECT_EQ(install.Read("lock/name.lck"), "\n");

    other.Kill();
    EXPECT_TRUE(CreateLock("name", install.Path()));
}

TEST(CreateLock, FailsWhenTheLockDirectoryCannotBeMade)
{
    TempDir install;
    install.Write("lock", "a file in the way");
    EXPECT_FALSE(CreateLock("name", install.Path()));
}

// The flock tool stands in for any other program that checks the lock.
TEST(CreateLock, OtherProgramsSeeTheLockButDoNotInheritIt)
{
    TempDir install;
    std::unique_ptr<InstanceLock> lock = CreateLock("name", install.Path());
    ASSERT_TRUE(lock);
    const std::string path(lock->Path().fn_str());
    pid_t tool = Spawn({"flock", "-n", path, "true"});
    if (tool < 0)
        GTEST_SKIP() << "flock tool not installed";
    EXPECT_EQ(ExitCode(tool), 1);

    // A launcher restarting into a new one must not leave the lock behind.
    pid_t started = Spawn({"sleep", "60"});
    lock.reset();
    EXPECT_EQ(ExitCode(Spawn({"flock", "-n", path, "true"})), 0);
    kill(started, SIGKILL);
    ExitCode(started);
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
