// Runs the real release builder and velorian-update against nginx: players a
// few releases behind get patches of their installed files, everyone else
// and every patch that fails gets the whole files, and the result is the same.
#include "app/LauncherConfig.h"
#include "support/Bytes.h"
#include "support/ChildProcess.h"
#include "support/NginxServer.h"
#include "support/Polling.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <wx/filefn.h>

#include <csignal>
#include <memory>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr int RELEASES = 4;
const char PATCH_ARCHIVE[] = "4-p001.zip";
const char MEMBER_ARCHIVE[] = "4-001.zip";

// A pack of release n: every release inserts a few bytes, shifting all after
// them, and the last one new content too, so that its patch takes a while.
std::string Pack(int release)
{
    std::string pack = Noise(400000);
    for (int k = 1; k <= release; ++k)
        pack.insert(k * 50000, "release " + std::to_string(k));
    return release == RELEASES ? pack + Noise(100000) : pack;
}

class Installation {
public:
    explicit Installation(const NginxServer& server) : server(server) { UsePath("/"); }

    void UsePath(const std::string& path)
    {
        dir.Write("launcher.conf", "baseUrl=" + server.Url(path) + "\n");
    }

    // Brings the installation to the server's release; what nginx was asked meanwhile.
    std::string Update()
    {
        const std::size_t logged = server.AccessLog().size();
        ChildProcess run({UPDATE_COMMAND_EXE, "--wait", "1", dir.Path().ToStdString()});
        EXPECT_EQ(run.Wait(), 0) << run.Out() << run.Err();
        return server.AccessLog().substr(logged);
    }
    TempDir dir;

private:
    const NginxServer& server;
};

class UpdateCommandPatches : public testing::Test {
protected:
    void Publish(int release)
    {
        game.Write("data/pack.bin", Pack(release));
        ChildProcess run({"/usr/bin/python3", RELEASE_BUILDER, game.Path().ToStdString(),
                          server.Root().ToStdString(), std::to_string(release), "--language",
                          LauncherConfig().languageCode.ToStdString(), "--patch-from", "2", "--patch-tool",
                          PATCH_TOOL_EXE});
        ASSERT_EQ(run.Wait(), 0) << run.Err();
    }

    NginxServer server;
    TempDir game;
};

// Up to two releases behind, the pack comes as a patch and its member is never
// asked for; further behind, or edited by the player, it comes whole.
TEST_F(UpdateCommandPatches, PlayersWithinTheReleasesPatchedAgainstGetPatches)
{
    const struct {
        int installed;
        bool edited;
        bool patched;
    } rows[] = {{3, false, true}, {2, false, true}, {1, false, false}, {3, true, false}};
    std::vector<std::unique_ptr<Installation>> installs;
    for (int release = 1; release <= RELEASES; ++release) {
        Publish(release);
        if (HasFatalFailure())
            return;
        for (const auto& row : rows) {
            if (release == 1)
                installs.push_back(std::make_unique<Installation>(server));
            if (release <= row.installed)
                installs[&row - rows]->Update();
        }
    }
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.installed) + (row.edited ? " edited" : ""));
        Installation& install = *installs[&row - rows];
        if (row.edited)
            install.dir.Write("data/pack.bin", Pack(row.installed) + "mine");
        const std::string asked = install.Update();
        EXPECT_TRUE(install.dir.Read("data/pack.bin") == Pack(RELEASES));
        EXPECT_EQ(asked.find(PATCH_ARCHIVE) != std::string::npos, row.patched) << asked;
        EXPECT_EQ(asked.find(MEMBER_ARCHIVE) != std::string::npos, !row.patched) << asked;
    }
}

// A run killed in the middle of a patch leaves the installed file as it was;
// a patch damaged on the server gives way to the member in the same run.
TEST_F(UpdateCommandPatches, KilledOrDamagedPatchLeavesTheFileWholeAndTheNextRunNew)
{
    Installation install(server);
    for (int release = 1; release <= RELEASES; ++release) {
        Publish(release);
        // The oldest base's patch comes last in the patch archive.
        if (release == RELEASES - 2)
            install.Update();
    }
    install.UsePath("/slow/");
    ChildProcess killed({UPDATE_COMMAND_EXE, install.dir.Path().ToStdString()});
    ASSERT_TRUE(WaitUntil([&] { return wxFileExists(install.dir.File("data/pack.bin\\part")); }, 20s));
    std::this_thread::sleep_for(300ms);
    killed.Stop(SIGKILL);
    EXPECT_TRUE(install.dir.Read("data/pack.bin") == Pack(RELEASES - 2));

    // The patch ends just before the archive's central directory: a byte of its last frame.
    std::string archive = ReadFileBytes(server.Root() + "/" + PATCH_ARCHIVE);
    archive[archive.find("PK\x01\x02") - 10] ^= 0x20;
    WriteFileBytes(server.Root() + "/" + PATCH_ARCHIVE, archive);
    install.UsePath("/");
    const std::string asked = install.Update();
    EXPECT_TRUE(install.dir.Read("data/pack.bin") == Pack(RELEASES));
    EXPECT_NE(asked.find(PATCH_ARCHIVE), std::string::npos);
    EXPECT_NE(asked.find(MEMBER_ARCHIVE), std::string::npos);
}

} // namespace
