// Runs the real launcher executable in a temporary installation under the test
// display and reads what it wrote.
#include "support/LauncherProcess.h"
#include "support/NginxServer.h"
#include "support/Polling.h"
#include "support/TelemetryServer.h"
#include "support/TempDir.h"
#include "support/TestRelease.h"
#include "support/TestSigningKey.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <wx/dir.h>
#include <wx/filefn.h>
#include <wx/filename.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <map>
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

    TempDir install;
    TempDir elsewhere; // a current directory other than the installation
};

// Neither a bad command line nor a missing launcher.conf stops the start; a
// SIGTERM closes the window through the normal shutdown.
TEST_F(LauncherRun, StartsWhateverItsCommandLineAndClosesCleanly)
{
    {
        LauncherProcess launcher(install.Path(), {"--bogus"});
        ASSERT_TRUE(launcher.WaitForLog(READY)) << launcher.LogText() << launcher.StandardError();
        ASSERT_TRUE(launcher.WaitForWindow("Velorian Launcher"));
        EXPECT_EQ(launcher.Stop(SIGTERM), 0);
        wxArrayString locks;
        EXPECT_EQ(wxDir::GetAllFiles(install.File("lock"), &locks, "*.lck"), 1u) << "it held the lock";
    }
    // Log file names have one-second resolution; a second launcher started in
    // the same second would truncate the first one's file.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    wxRemoveFile(install.File("launcher.conf"));
    // A restarted launcher waits for the old one to end before its window.
    const auto start = std::chrono::steady_clock::now();
    LauncherProcess launcher(install.Path(), {"--updated", "--relaunch"});
    ASSERT_TRUE(launcher.WaitForLog(READY)) << launcher.LogText();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

// What a start does with a launcher that an earlier run downloaded, started
// from another directory than its own; "running it" is the downloaded
// launcher's own start.
TEST_F(LauncherRun, HandsOverToADownloadedLauncherOnlyWhenItIsCurrentAndWhole)
{
    NginxServer server;
    // Records that it ran, and with how many arguments.
    const std::string standIn = "#!/bin/sh\necho $# > \"$(dirname \"$0\")/handed-over\"\n";
    server.Write("launcher.pt.3.3.17.exe", standIn);
    const std::string self = "(this launcher)";
    // Same size, other bytes.
    const std::string tampered = "#!/bin/sh\nexit $# > \"$(dirname \"$0\")/handed-over\"\n";
    const TestSigningKey publisher;
    const auto signedAs = [&](const char* version) {
        return publisher.Sign("velorian-launcher " + std::string(version) + "\n" + standIn);
    };
    struct Row {
        const char* what;
        const char* served;
        std::string local; // launcher_new.exe
        std::string line;
        bool kept;
        bool handedOver;
        std::string signature; // launcher_new.exe.sig, and then the publisher's key is configured
    };
    const std::string confirmed =
        "Message box confirmed without showing it: Found self-update, launcher needs to be restarted.";
    const Row rows[] = {
        {"same size", "3.3.17", standIn, confirmed, true, true, ""},
        {"one byte short", "3.3.17", standIn.substr(1),
         "LocalSize=" + std::to_string(standIn.size() - 1) + " RemoteSize=" + std::to_string(standIn.size()),
         false, false, ""},
        {"current already", "3.3.16", standIn,
         "Launcher executable is already up to date, will remove local launcher installer.", false, false,
         ""},
        {"running it", "3.3.17", self,
         "This launcher runs from the local launcher installer, will keep it and run normally.", true, false,
         ""},
        {"signed", "3.3.17", standIn, confirmed, true, true, signedAs("3.3.17")},
        {"tampered", "3.3.17", tampered,
         "Local launcher installer is not signed by the publisher, will remove it.", false, false,
         signedAs("3.3.17")},
        {"an older version named", "3.3.15", standIn,
         "The update server names launcher version 3.3.15, not newer than this one, will remove the local "
         "launcher installer.",
         false, false, signedAs("3.3.15")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        // The window starts no self-update of its own.
        const std::string key = row.signature.empty() ? "" : "releaseKey=" + publisher.PublicKey();
        dir.Write("launcher.conf",
                  "enableLogDebug=1\nuseMiniBrowserOnly=1\nbaseUrl=" + server.Url("/") + "\n" + key);
        if (!row.signature.empty())
            dir.Write("launcher_new.exe.sig", row.signature);
        server.Write("launcherVersion.inf", row.served);
        if (row.local == self) {
            LauncherProcess::Install(dir.Path(), "launcher_new.exe");
        } else {
            dir.Write("launcher_new.exe", row.local);
            chmod(dir.File("launcher_new.exe").fn_str(), 0755);
        }
        LauncherProcess launcher(dir.Path(), {}, row.local == self ? "launcher_new.exe" : "launcher",
                                 elsewhere.Path());
        EXPECT_EQ(launcher.WaitForLog(READY), !row.handedOver) << launcher.LogText();
        EXPECT_NE(launcher.LogText().find(row.line), std::string::npos) << launcher.LogText();
        EXPECT_EQ(wxFileExists(dir.File("launcher_new.exe")), row.kept);
        if (row.handedOver) {
            EXPECT_FALSE(launcher.Running()) << "ended without its window";
            EXPECT_NE(launcher.Stop(SIGTERM), -1) << "a crash on the way out";
            EXPECT_TRUE(WaitUntil([&] { return dir.Read("handed-over") == "0\n"; }))
                << dir.Read("handed-over");
        }
        launcher.Stop(SIGTERM);
    }
}

// A newer launcher found while the window is open is saved beside the
// executable and started once this one has gone.
TEST_F(LauncherRun, WindowFetchesANewerLauncherStartsItAndEnds)
{
    NginxServer server;
    server.Write("launcherVersion.inf", "3.3.17\n");
    server.Write("launcher.pt.3.3.17.exe",
                 "#!/bin/sh\necho \"run $*\" >> \"$(dirname \"$0\")/handed-over\"\n");
    install.Write("launcher.conf", "enableLogDebug=1\nbaseUrl=" + server.Url("/") + "\n");
    LauncherProcess launcher(install.Path(), {}, "launcher", elsewhere.Path());
    EXPECT_EQ(launcher.Wait(std::chrono::seconds(30)), 0) << launcher.LogText();
    EXPECT_TRUE(WaitUntil([&] { return install.Read("handed-over") == "run --relaunch\n"; }))
        << install.Read("handed-over") << launcher.LogText();
}

// The player's way: an installation one release behind, under a path with a space and
// started from elsewhere, in a window on nginx's release with a news page and the
// telemetry service beside it. The stand-in game records its arguments and runs for two seconds.
TEST_F(LauncherRun, UpdatesInTheWindowPlaysUploadsTheLogsAndExits)
{
    NginxServer server;
    TelemetryServer telemetry;
    const wxString dir = install.File("Velorian Game");
    const auto read = [&](const std::string& name) { return ReadFileBytes(dir + "/" + name); };
    server.Write("news.html", "<html><body>Velorian news</body></html>");
    WriteFileBytes(dir + "/launcher.conf", "enableLogDebug=1\nbaseUrl=" + server.Url("/release/") +
                                               "\nuploadUrl=" + telemetry.Url() +
                                               "\nnewsUrl=" + server.Url("/news.html") +
                                               "\ngameExecutable=bin/velorian game\nminSysMemoryMB=1\n");
    TestRelease release;
    release.Add("bin/velorian game", "#!/bin/sh\nfor arg in \"$@\"; do printf '%s\\n' \"$arg\"; done > "
                                     "\"$(dirname \"$0\")/argv.txt\"\nsleep 2\n");
    release.Add("data/readme.txt", "Velorian\n", true);
    release.Add("velorian_Data/Managed/Game.dll", "assembly");
    release.Publish(server.Root() + "/release", "2.0", "pt");
    WriteFileBytes(dir + "/bin/velorian game", "the game of release 1.0");

    LauncherProcess launcher(dir, {}, "launcher", install.Path());
    ASSERT_TRUE(launcher.WaitForLog("Update done.", std::chrono::seconds(60))) << launcher.LogText();
    EXPECT_EQ(read("data/readme.txt"), "Velorian\n");
    // A changed library of the same size and time is reported with the logs.
    const wxFileName library(dir + "/velorian_Data/Managed/Game.dll");
    const wxDateTime modified = library.GetModificationTime();
    WriteFileBytes(library.GetFullPath(), "cheating");
    library.SetTimes(nullptr, &modified, nullptr);

    for (int attempt = 0; attempt < 20 && !launcher.WaitForLog("Starting the game.", std::chrono::seconds(1));
         ++attempt)
        launcher.ClickFromBottomRight("Velorian Launcher", 30, 25);
    EXPECT_TRUE(WaitUntil([&] { return !launcher.IsWindowShown("Velorian Launcher"); },
                          std::chrono::milliseconds(1500)))
        << "the window hides while the game runs";
    ASSERT_EQ(launcher.Wait(std::chrono::seconds(30)), 0) << launcher.LogText();

    const std::vector<TelemetryServer::Request> requests = telemetry.Requests();
    const auto upload =
        std::find_if(requests.begin(), requests.end(), [](auto& sent) { return !sent.parts.empty(); });
    ASSERT_NE(upload, requests.end()) << launcher.LogText();
    std::map<std::string, std::string> parts;
    for (const TelemetryServer::Part& part : upload->parts)
        parts[part.name] = part.bytes;
    EXPECT_EQ(parts["changes"], "velorian_Data\\Managed\\Game.dll");
    EXPECT_EQ(parts["logfile"].substr(0, 2), "PK");

    // One argument a line, between the game log's time stamp and the session.
    const std::string args = read("bin/argv.txt");
    EXPECT_TRUE(
        args.starts_with("-launch\n-language=pt\n-resolution=1280x1024\n-quality=4\n-fullscreen\n-logfile=" +
                         dir.ToStdString() + "/logs/client-"))
        << args;
    EXPECT_TRUE(
        args.ends_with("-" + parts["SESSID"] + ".txt\n-launcherpath=" + dir.ToStdString() + "/launcher\n"))
        << args;

    EXPECT_EQ(read("version.inf"), "2.0");
    EXPECT_TRUE(wxFileName::FileExists(dir + "/firstRun"));
    EXPECT_FALSE(wxFileName::FileExists(install.File("firstRun")));
    EXPECT_EQ(read("user.conf"), "resolution=1280x1024\nfullscreen=1\nquality=Bonito\nlanguage=151\n");
}

} // namespace
