// The self-update thread against update servers on loopback.
#include "selfupdate/SelfUpdater.h"

#include "common/VersionText.h"
#include "progress/LauncherEvents.h"
#include "progress/ProgressNotifier.h"
#include "selfupdate/SelfUpdateFiles.h"
#include "support/Bytes.h"
#include "support/EventRecorder.h"
#include "support/FaultServer.h"
#include "support/LogCapture.h"
#include "support/NginxServer.h"
#include "support/Polling.h"
#include "support/TempDir.h"
#include "support/TestSigningKey.h"

#include <gtest/gtest.h>
#include <wx/dir.h>
#include <wx/filefn.h>

#include <chrono>
#include <memory>
#include <tuple>

namespace {

using Clock = std::chrono::steady_clock;

class SelfUpdaterTest : public testing::Test {
protected:
    std::unique_ptr<SelfUpdater> Updater(const std::string& baseUrl,
                                         const TestSigningKey* publisher = nullptr)
    {
        return std::make_unique<SelfUpdater>(
            &notifier, "3.3.16", "pt", wxString::FromUTF8(baseUrl), SelfUpdateFilePath(exeDir.Path()),
            publisher ? SignatureVerifier::FromBase64(publisher->PublicKey()) : std::nullopt);
    }

    wxArrayString FilesBesideTheExecutable() const
    {
        wxArrayString names;
        wxDir::GetAllFiles(exeDir.Path(), &names, wxEmptyString, wxDIR_FILES);
        return names;
    }

    // Stops the running updater and returns how long it took to end.
    static Clock::duration StopAndJoin(SelfUpdater& updater)
    {
        const auto start = Clock::now();
        updater.Stop();
        updater.Join();
        return Clock::now() - start;
    }

    const std::string build = Pattern(0, 200000);
    TempDir exeDir;
    NginxServer server;
    EventRecorder events;
    ProgressNotifier notifier{&events};
    LogCapture log;
};

// Number by number; what cannot be compared is not taken as newer.
TEST(LauncherVersion, ComparesNumberByNumber)
{
    const std::pair<const char*, bool> rows[] = {
        {"3.3.16", false}, {"3.3.15", false},   {"3.3.17", true}, {"3.10.0", true}, {"3.3.17.", true},
        {"3.3", false},    {"3.3.16.1", false}, {"3.3.x", false}, {"", false},
    };
    for (const auto& [remote, newer] : rows)
        EXPECT_EQ(IsNewerVersion("3.3.16", remote), newer) << remote;
}

// With the publisher's key, a launcher is kept only when the server's
// signature of it and its version verifies, and its signature beside it; a
// refusal is not retried.
TEST_F(SelfUpdaterTest, KeepsOnlyALauncherSignedByThePublisher)
{
    const TestSigningKey publisher, stranger;
    server.Write("launcherVersion.inf", "3.3.17");
    server.Write("launcher.pt.3.3.17.exe", build);
    server.Write("launcher.pt.3.3.17.exe.sig", publisher.Sign(build));
    const std::string signedText = "velorian-launcher 3.3.17\n" + build;
    const std::pair<const char*, std::string> refused[] = {
        {"no signature of the version", ""},
        {"another key", stranger.Sign(signedText)},
        {"other bytes", publisher.Sign(signedText + "!")},
        {"an older build served as 3.3.17", publisher.Sign("velorian-launcher 3.3.10\n" + build)},
    };
    for (const auto& [what, signature] : refused) {
        SCOPED_TRACE(what);
        if (!signature.empty())
            server.Write("launcher.pt.3.3.17.exe.version.sig", signature);
        events.Take();
        auto updater = Updater(server.Url("/"), &publisher);
        ASSERT_TRUE(updater->Start());
        updater->Join();
        EXPECT_EQ(events.Values(wxEVT_SELF_UPDATE_DONE), std::vector<int>{SELF_UPDATE_FAILED});
        EXPECT_TRUE(FilesBesideTheExecutable().empty());
    }
    server.Write("launcher.pt.3.3.17.exe.version.sig", publisher.Sign(signedText));
    auto updater = Updater(server.Url("/"), &publisher);
    ASSERT_TRUE(updater->CheckForNewVersion());
    EXPECT_EQ(updater->DownloadLauncher(), SELF_UPDATE_DOWNLOADED);
    EXPECT_TRUE(exeDir.Read("launcher_new.exe") == build);
    EXPECT_EQ(exeDir.Read("launcher_new.exe.sig"), publisher.Sign(signedText));
}

// A body without an announced length that does not end (350 MB here) stops at
// the bound, leaves nothing behind and is not fetched again.
TEST_F(SelfUpdaterTest, StopsAnEndlessLauncherAtTheBound)
{
    FaultServer faults;
    const std::string baseUrl = faults.Url("/chunked?body=3.3.17%0A&chunk=65536&repeat=50000000&file=");
    auto updater = Updater(baseUrl);
    ASSERT_TRUE(updater->Start());
    updater->Join();
    EXPECT_EQ(events.Values(wxEVT_SELF_UPDATE_DONE), std::vector<int>{SELF_UPDATE_FAILED});
    EXPECT_TRUE(log.HasText("The launcher update is larger than 268435456 bytes; the download was stopped: " +
                            baseUrl + "launcher.pt.3.3.17.exe"));
    EXPECT_TRUE(FilesBesideTheExecutable().empty());
    EXPECT_EQ(faults.Requests("launcher.pt.3.3.17.exe"), 1);
}

// Without an answer the thread asks eleven times at once, then pauses 1 s,
// 2 s, ...; a stop cuts the pause short.
TEST_F(SelfUpdaterTest, RetriesInBurstsAndStopsAtOnce)
{
    auto updater = Updater(server.Url("/"));
    ASSERT_TRUE(updater->Start());
    EXPECT_EQ(server.Requests("GET /launcherVersion.inf", 11), 11) << "a pause follows the burst";
    EXPECT_EQ(server.Requests("GET /launcherVersion.inf", 22), 22);
    EXPECT_LT(StopAndJoin(*updater), std::chrono::milliseconds(500)) << "stopped during the 2 s pause";
    EXPECT_EQ(Count(server.AccessLog(), "GET /launcherVersion.inf"), 22);
    EXPECT_EQ(events.Values(wxEVT_SELF_UPDATE_DONE), std::vector<int>{SELF_UPDATE_NOT_NEEDED});
    EXPECT_EQ(events.Texts().back(), "Error checking launcher update. Will retry in 2 seconds...");

    // A download under way ends as soon as it is stopped, leaving nothing behind.
    server.Write("launcherVersion.inf", "3.3.17");
    server.Write("launcher.pt.3.3.17.exe", build);
    events.Take();
    updater = Updater(server.Url("/slow/"));
    ASSERT_TRUE(updater->Start());
    ASSERT_TRUE(WaitUntil([&] { return events.Values(wxEVT_PROGRESS_UPDATED).size() >= 2; }));
    EXPECT_FALSE(wxFileExists(exeDir.File("launcher_new.exe"))) << "only a whole body gets the name";
    EXPECT_LT(StopAndJoin(*updater), std::chrono::seconds(1));
    EXPECT_EQ(events.Values(wxEVT_SELF_UPDATE_DONE), std::vector<int>{SELF_UPDATE_FAILED});
    EXPECT_TRUE(FilesBesideTheExecutable().empty());
}

} // namespace
