// Runs the real velorian-update on a temporary installation against a release
// served on loopback, and checks its exit status and what it leaves behind.
#include "app/InstanceLock.h"
#include "app/LauncherConfig.h"
#include "platform/DiskSpace.h"
#include "support/Bytes.h"
#include "support/ChildProcess.h"
#include "support/NginxServer.h"
#include "support/Polling.h"
#include "support/TempDir.h"
#include "support/TestRelease.h"
#include "support/TestSigningKey.h"

#include <gtest/gtest.h>
#include <wx/dir.h>
#include <wx/filename.h>

#include <chrono>
#include <csignal>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

const std::string VERSION = "2.4.1";

class UpdateCommandRun : public testing::Test {
protected:
    void Configure(const std::string& releasePath)
    {
        install.Write("launcher.conf", "baseUrl=" + server.Url(releasePath) +
                                           "\nuploadUrl=" + server.Url("/telemetry.aspx") + "\n");
    }

    // The command's exit status, with options before the installation's directory.
    int Update(std::vector<std::string> options = {}, std::string* out = nullptr)
    {
        options.insert(options.begin(), UPDATE_COMMAND_EXE);
        options.push_back(install.Path().ToStdString());
        ChildProcess run(options);
        const int status = run.Wait();
        if (out != nullptr)
            *out = run.Out();
        return status;
    }

    const std::string language = LauncherConfig().languageCode.ToStdString();
    NginxServer server;
    TempDir install;
};

TEST_F(UpdateCommandRun, EachFailureEndsWithItsOwnStatus)
{
    TestRelease release;
    release.Add("data/stored.bin", Pattern(1, 5000), false);
    release.Publish(server.Root() + "/release", VERSION, language);
    Configure("/release/");
    for (const char* wrong : {"--bogus", "--wait=-1"})
        EXPECT_EQ(Update({wrong}), 1) << wrong;
    EXPECT_EQ(ChildProcess({UPDATE_COMMAND_EXE}).Wait(), 1);
    EXPECT_EQ(ChildProcess({UPDATE_COMMAND_EXE, install.File("absent").ToStdString()}).Wait(), 1);
    EXPECT_EQ(ChildProcess({UPDATE_COMMAND_EXE, "--help"}).Wait(), 0);
    {
        // Two writers in one installation would spoil each other's files.
        const auto game = CreateLock(GAME_LOCK_PREFIX, install.Path());
        ASSERT_TRUE(game);
        EXPECT_EQ(Update(), 1);
        EXPECT_FALSE(wxFileName::FileExists(install.File("data/stored.bin")));
    }
    // An archive that the server does not have ends the update at once; a FIFO in lock/ holds no lock.
    ASSERT_EQ(mkfifo(install.File(wxString("lock/") + GAME_LOCK_PREFIX + "1").fn_str(), 0600), 0);
    wxRemoveFile(server.Root() + "/release/a.zip");
    EXPECT_EQ(Update(), 5);
    // A release that the configured key did not sign.
    install.Write("launcher.conf",
                  install.Read("launcher.conf") + "releaseKey=" + TestSigningKey().PublicKey());
    EXPECT_EQ(Update(), 4);

    // A release larger than the free space is refused before anything is written.
    std::uint64_t free = 0;
    ASSERT_TRUE(platform::GetFreeDiskSpace(install.Path(), free));
    TestRelease huge;
    for (std::uint64_t part = 0; part <= free / 2000000000u; ++part)
        huge.AddRawRecord("name=\"huge" + std::to_string(part) + "\" source_zip=\"a.zip\" checksum=\"0\" " +
                          "offset=\"30\" compressed_size=\"4\" compressed=\"false\" size=\"2000000000\"");
    huge.Publish(server.Root() + "/huge", VERSION, language);
    Configure("/huge/");
    EXPECT_EQ(Update(), 3);
    EXPECT_FALSE(wxFileName::FileExists(install.File("huge0")));

    server.Write("huge/version-win-" + language + ".php", "invalid_remote\n");
    EXPECT_EQ(Update(), 4);
    // A server that never answers is given up after the wait.
    install.Write("launcher.conf", "baseUrl=http://127.0.0.1:1/\nuploadUrl=" + server.Url("/telemetry.aspx"));
    EXPECT_EQ(Update({"--wait", "2"}), 4);

    // A key that does not decode refuses even the release that the whole key takes.
    const TestSigningKey publisher;
    release.Publish(server.Root() + "/signed", VERSION, language, &publisher);
    Configure("/signed/");
    const std::string conf = install.Read("launcher.conf"), key = publisher.PublicKey();
    for (const std::string& bad :
         {key.substr(0, key.size() - 2), key.substr(0, key.size() - 1), std::string(44, 'A')}) {
        install.Write("launcher.conf", conf + "releaseKey=" + bad + "\n");
        EXPECT_EQ(Update(), 4) << bad;
        EXPECT_FALSE(wxFileName::FileExists(install.File("data/stored.bin")));
    }
    install.Write("launcher.conf", conf + "releaseKey=" + key + "\n");
    EXPECT_EQ(Update(), 0);
    EXPECT_TRUE(install.Read("data/stored.bin") == Pattern(1, 5000));
}

// A kill and a stop both leave "invalid" behind and every file whole, old or new; the next
// run completes the installation, and damage that keeps a file's size and time escapes a
// run but not --verify.
TEST_F(UpdateCommandRun, KillOrSigtermDuringASlowDownloadAndTheNextRunCompletes)
{
    // Small files, then one that takes minutes to come.
    TestRelease many;
    for (int part = 0; part < 4; ++part)
        many.Add("data/part" + std::to_string(part + 10), Pattern(part * 4096, 4096), false);
    many.Add("data/large.bin", Pattern(0, 3 << 20), false);
    many.Publish(server.Root() + "/many", VERSION, language);
    Configure("/slow/many/");
    for (const auto& [name, content] : many.Files())
        install.Write(name, "old " + name);
    // Every file whole, and new unless old is allowed.
    const auto expectWholeFiles = [&](bool old) {
        for (const auto& [name, content] : many.Files()) {
            const std::string found = install.Read(name);
            EXPECT_TRUE(found == content || (old && found == "old " + name)) << name;
        }
    };

    ChildProcess killed({UPDATE_COMMAND_EXE, install.Path().ToStdString()});
    ASSERT_TRUE(WaitUntil([&] { return install.Read("data/part10") == many.Files().at("data/part10"); }, 20s))
        << killed.Out() << killed.Err();
    killed.Stop(SIGKILL);
    EXPECT_EQ(install.Read("version.inf"), "invalid");
    expectWholeFiles(true);

    // The killed run may have begun the large file: only this run's own
    // temporary file shows that it is under way.
    wxRemoveFile(install.File("data/large.bin\\part"));
    ChildProcess run({UPDATE_COMMAND_EXE, install.Path().ToStdString()});
    ASSERT_TRUE(WaitUntil([&] { return wxFileName::FileExists(install.File("data/large.bin\\part")); }, 20s))
        << run.Out() << run.Err();
    std::this_thread::sleep_for(300ms);
    const auto signalled = std::chrono::steady_clock::now();
    EXPECT_EQ(run.Stop(SIGTERM), 2) << run.Out() << run.Err();
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, 2s);
    EXPECT_EQ(install.Read("data/large.bin"), "old data/large.bin");
    EXPECT_FALSE(wxFileName::FileExists(install.File("data/large.bin\\part")));
    EXPECT_EQ(install.Read("version.inf"), "invalid");
    expectWholeFiles(true);

    Configure("/many/");
    std::string out;
    ASSERT_EQ(Update({}, &out), 0) << out;
    expectWholeFiles(false);
    EXPECT_EQ(install.Read("version.inf"), VERSION);
    EXPECT_EQ(out.find_first_of("\r\x1b"), std::string::npos) << "a file gets no terminal control characters";
    wxArrayString locks;
    wxDir::GetAllFiles(install.File("lock"), &locks);
    EXPECT_TRUE(locks.empty()) << "the command takes its lock file away";

    wxDateTime modified = wxFileName(install.File("data/part11")).GetModificationTime();
    install.Write("data/part11", Pattern(2, 4096));
    wxFileName(install.File("data/part11")).SetTimes(nullptr, &modified, nullptr);
    ASSERT_EQ(Update({}, &out), 0) << out;
    EXPECT_NE(out.find("Up to date: version " + VERSION + "."), std::string::npos) << out;
    ASSERT_EQ(Update({"--verify"}, &out), 0) << out;
    EXPECT_NE(out.find("Checked 5 files of version " + VERSION + ": 1 repaired."), std::string::npos) << out;
    expectWholeFiles(false);
}

// A large file that a killed run left half fetched is continued by the next
// run, deflated or not, and verified whole: kept bytes that were damaged fail
// the digest, and the file is fetched again.
TEST_F(UpdateCommandRun, TheNextRunContinuesALargeFileWhereAKilledOneStopped)
{
    struct Row {
        const char* version;
        bool compressed;
        bool damaged;
    };
    const Row rows[] = {{"3.0", false, false}, {"3.1", true, false}, {"3.2", false, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.version);
        // Random, so that deflating keeps it large.
        std::string content(9 << 20, '\0');
        std::mt19937 random(static_cast<unsigned>(content.size()) + row.compressed);
        for (char& byte : content)
            byte = static_cast<char>(random());
        TestRelease release;
        const std::uint32_t offset = release.Add("data/big.bin", content, row.compressed);
        release.Publish(server.Root() + "/" + row.version, row.version, language);

        Configure("/slow/" + std::string(row.version) + "/");
        ChildProcess killed({UPDATE_COMMAND_EXE, install.Path().ToStdString()});
        const wxString kept = install.File("download\\resume");
        ASSERT_TRUE(WaitUntil([&] { return install.Read("download\\resume").size() > 20000; }, 20s))
            << killed.Err();
        killed.Stop(SIGKILL);
        std::string keptBytes = install.Read("download\\resume");
        if (row.damaged) {
            keptBytes[keptBytes.size() - 1000] ^= 0x55;
            install.Write("download\\resume", keptBytes);
        }

        Configure("/" + std::string(row.version) + "/");
        const std::size_t logged = server.AccessLog().size();
        std::string out;
        ASSERT_EQ(Update({}, &out), 0) << out;
        EXPECT_TRUE(install.Read("data/big.bin") == content);
        EXPECT_FALSE(wxFileName::FileExists(kept));
        // The first request of this run asks only for what the killed one did
        // not get. nginx may log the killed run's request late: it went to /slow/.
        std::string requests;
        std::istringstream lines(server.AccessLog().substr(logged));
        for (std::string line; std::getline(lines, line);)
            if (line.find("/slow/") == std::string::npos)
                requests += line + "\n";
        const std::size_t range = requests.find("range=\"bytes=");
        ASSERT_NE(range, std::string::npos) << requests;
        const std::uint64_t first = std::stoull(requests.substr(range + 13));
        EXPECT_GT(first, offset + keptBytes.size() - 200) << requests;
        EXPECT_EQ(requests.find("range=\"bytes=" + std::to_string(offset) + "-") != std::string::npos,
                  row.damaged)
            << requests;
    }
}

} // namespace
