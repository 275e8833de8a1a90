// The launcher's sequence without a window: a stand-in view, the real services on a temporary
// installation, and the workers' events run the way the window's event loop runs them.
#include "app/LauncherSequence.h"

#include "app/LauncherConfig.h"
#include "app/LauncherServices.h"
#include "app/LauncherView.h"
#include "progress/LauncherEvents.h"
#include "progress/ProgressNotifier.h"
#include "selfupdate/SelfUpdater.h"
#include "support/LogCapture.h"
#include "support/NginxServer.h"
#include "support/Polling.h"
#include "support/TempDir.h"
#include "support/TestRelease.h"
#include "update/UpdateEngine.h"

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/filename.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace {

using namespace std::chrono_literals;

const char UNREACHABLE[] = "http://127.0.0.1:9/";

// What the sequence asked of the window's controls.
class FakeView : public LauncherView {
public:
    void EnablePlay(bool enable) override { playEnabled = enable; }
    void ShowMiniBrowser() override {}
    void LoadNewsPage() override { pageLoaded = true; }
    void ReloadNewsPage() override {}
    void RequestAttention(const wxString& text) override { notice = text.utf8_string(); }
    GameChoices Choices() const override { return {"1024x768", 2, false}; }
    void HideWindow() override { hidden = true; }
    void StopPulse() override {}
    void StartExitTimer() override { exitTimer = true; }
    void StopExitTimer() override { exitTimer = false; }
    void DestroyWindow() override { destroyed = true; }
    void ShowPauseControl(bool, bool) override {}
    void EnableVerify(bool enable) override { verifyEnabled = enable; }

    bool playEnabled = false, pageLoaded = false, verifyEnabled = false;
    bool hidden = false, exitTimer = false, destroyed = false;
    std::string notice; // what a player elsewhere was told last
};

// The sequence opened on an installation with its services, as the window opens them.
class SequenceTest : public testing::Test {
protected:
    SequenceTest()
    {
        Configure(UNREACHABLE);
        target.Bind(wxEVT_STATUS_MESSAGE,
                    [this](wxThreadEvent& event) { status = event.GetString().utf8_string(); });
        target.Bind(wxEVT_PROGRESS_UPDATED, [this](wxThreadEvent& event) { gauge = ProgressUnits(event); });
    }

    ~SequenceTest() override { Close(); }

    void Configure(const std::string& baseUrl, const std::string& more = "")
    {
        install.Write("launcher.conf", "baseUrl=" + baseUrl + "\nuploadUrl=" + UNREACHABLE +
                                           "\ngameExecutable=game.sh\nminSysMemoryMB=1\n" + more);
    }

    // setting, unless null, is turned on in the loaded settings before the start-up decision.
    void Open(bool LauncherConfig::*setting = nullptr)
    {
        config.SetDefaults(install.Path());
        config.LoadConfig();
        config.languageId = LANGUAGE_NONE;
        config.languageCode = LanguageCode(LANGUAGE_NONE);
        if (setting != nullptr)
            config.*setting = true;
        services = std::make_unique<LauncherServices>(config, &target, install.Path());
        sequence = std::make_unique<LauncherSequence>(config, *services, view, &target,
                                                      [this](const wxString& message, const wxString&, long) {
                                                          asked += message.utf8_string();
                                                          return wxOK;
                                                      });
        sequence->Start();
        RunPending();
    }

    // Opens on an installed version while the game runs: no thread starts.
    void OpenReady()
    {
        install.Write("game.sh", "#!/bin/sh\ntouch played\n");
        install.Write("version.inf", "1.0");
        Open(&LauncherConfig::gameRunning);
        ASSERT_EQ(sequence->GetState(), STATE_READY);
    }

    // As the window goes; the events that its workers left behind find no sequence.
    void Close()
    {
        sequence.reset();
        services.reset();
        RunPending();
        view = FakeView();
    }

    void Post(wxEventType type, int value = 0)
    {
        wxThreadEvent event(type);
        event.SetInt(value);
        target.AddPendingEvent(event);
        RunPending();
    }

    static void RunPending() { wxAppConsole::GetInstance()->ProcessPendingEvents(); }

    // Runs the posted events until done holds; false when it did not within limit.
    static bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s)
    {
        const auto ran = [&] {
            RunPending();
            return done();
        };
        return WaitUntil(ran, limit);
    }

    // Ticks the exit timer ten times faster than the window until the window goes; false when it
    // did not within limit. The exit gives up on the threads after 60 ticks.
    bool Exit(std::chrono::milliseconds limit)
    {
        return WaitUntil(
            [this] {
                if (view.exitTimer && !view.destroyed)
                    sequence->OnExitTimer();
                return RunUntil([this] { return view.destroyed; }, 100ms);
            },
            limit);
    }

    LogCapture log;
    TempDir install;
    wxEvtHandler target;
    LauncherConfig config;
    FakeView view;
    std::string status;
    std::int64_t gauge = 0; // bytes done, as the window's gauge shows them
    std::string asked;      // the messages shown, one after another
    std::unique_ptr<LauncherServices> services;
    std::unique_ptr<LauncherSequence> sequence;
};

// Whatever the start-up decided, closing stops what it started long before the exit would give
// up on its threads: a server that never answers keeps the self-update asking.
TEST_F(SequenceTest, StartUpDecidesBetweenUpdatingPlayingAndExitingAndClosingEndsIt)
{
    struct Row {
        const char* what;
        bool LauncherConfig::*setting;
        std::string version; // version.inf, if any
        int state;
        bool play;
        std::string status; // unless empty
        std::string asked;
    };
    const Row rows[] = {
        {"a player's start", nullptr, "1.0", STATE_SELF_UPDATING, false, "", ""},
        {"mini-browser", &LauncherConfig::miniBrowserOnly, "", STATE_INITIAL, false, "", ""},
        {"no launcher.conf", &LauncherConfig::configMissing, "", STATE_INITIAL, false,
         "Config file not found, please contact support.", ""},
        {"the game runs", &LauncherConfig::gameRunning, "1.0", STATE_READY, true,
         "Velorian already running. Skipping update.", ""},
        // Another launcher is updating the installation.
        {"the game runs, mid-update", &LauncherConfig::gameRunning, "invalid", STATE_EXITING, false, "",
         "Update already in progress."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (!row.version.empty())
            install.Write("version.inf", row.version);
        Open(row.setting);
        EXPECT_EQ(sequence->GetState(), row.state);
        EXPECT_EQ(view.playEnabled, row.play);
        EXPECT_TRUE(row.status.empty() || status == row.status) << status;
        EXPECT_EQ(asked, row.asked);
        EXPECT_TRUE(view.pageLoaded);
        sequence->OnClose();
        EXPECT_TRUE(Exit(2s));
        Close();
        asked.clear();
        wxRemoveFile(install.File("version.inf"));
    }
}

// Each row posts an event of the workers and runs it; once a downloaded
// launcher has begun the exit, nothing moves the state or starts a thread.
TEST_F(SequenceTest, WorkerEventsMoveTheStateUntilTheExitBegins)
{
    OpenReady();
    struct Row {
        wxEventType event;
        int value;
        int state;
        bool play;
    };
    const Row rows[] = {
        {wxEVT_DISABLE_PLAY, 0, STATE_READY, false},
        {wxEVT_NO_CHANGES_FOUND, 0, STATE_READY, true},
        {wxEVT_UPDATE_STOPPED, 0, STATE_UPDATE_STOPPED, false},
        {wxEVT_UPDATE_FINISHED, 0, STATE_UPDATE_DONE, true},
        {wxEVT_SELF_UPDATE_DONE, SELF_UPDATE_DOWNLOADED, STATE_EXITING, false},
        {wxEVT_UPDATE_FINISHED, 0, STATE_EXITING, false},
        {wxEVT_UPDATE_STOPPED, 0, STATE_EXITING, false},
        {wxEVT_NO_CHANGES_FOUND, 0, STATE_EXITING, false},
        {wxEVT_START_UPDATE, 0, STATE_EXITING, false},
        {wxEVT_SELF_UPDATE_DONE, SELF_UPDATE_NOT_NEEDED, STATE_EXITING, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "event " << row.event << " to state " << row.state);
        Post(row.event, row.value);
        EXPECT_EQ(sequence->GetState(), row.state);
        EXPECT_EQ(view.playEnabled, row.play);
    }
    EXPECT_EQ(status, "Quitting launcher...");
    EXPECT_EQ(asked, "New launcher version.\nLauncher will now try to restart.");
    // Nothing runs: the first tick ends it.
    EXPECT_TRUE(Exit(150ms));
}

// The game starts from Ready and Update done only; once it ends, the logs go
// and the launcher exits.
TEST_F(SequenceTest, PlayStartsTheGameOnlyWhenTheInstallationIsCurrent)
{
    struct Row {
        const char* what;
        wxEventType event; // posted first, unless wxEVT_NULL
        int value;
        bool installed;
        bool started;
    };
    const Row rows[] = {
        {"ready", wxEVT_NULL, 0, true, true},
        {"update done", wxEVT_UPDATE_FINISHED, 0, true, true},
        {"update stopped", wxEVT_UPDATE_STOPPED, 0, true, false},
        {"exiting", wxEVT_SELF_UPDATE_DONE, SELF_UPDATE_DOWNLOADED, true, false},
        {"no game", wxEVT_NULL, 0, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        OpenReady();
        if (row.event != wxEVT_NULL)
            Post(row.event, row.value);
        if (!row.installed)
            wxRemoveFile(install.File("game.sh"));
        sequence->OnPlay();
        EXPECT_EQ(view.hidden, row.started);
        EXPECT_EQ(RunUntil([&] { return view.destroyed; }, row.started ? 10s : 0s), row.started)
            << "the game's end closes the launcher";
        EXPECT_EQ(wxFileName::FileExists(install.File("played")), row.started);
        EXPECT_TRUE(row.started || view.playEnabled == !row.installed)
            << "a game that did not start can be tried again";
        EXPECT_EQ(status == "Could not start the game, please contact support.", !row.installed) << status;
        Close();
        wxRemoveFile(install.File("played"));
    }
}

// The update of a release over a slow link, paused: Play waits, and closing stops the held
// download and waits for its thread.
TEST_F(SequenceTest, ClosingDuringTheUpdateStopsItAndWaitsForTheThread)
{
    NginxServer server;
    TestRelease release;
    release.Add("data/large.bin", std::string(3000000, 'L'));
    release.Publish(server.Root() + "/release", "2.0");
    Configure(server.Url("/slow/release/"));
    Open();
    ASSERT_TRUE(RunUntil([&] { return log.HasText("Update started."); })) << status;
    EXPECT_EQ(sequence->GetState(), STATE_UPDATING);
    std::this_thread::sleep_for(300ms);
    sequence->OnPlay();
    EXPECT_FALSE(view.hidden);
    sequence->OnPauseResume();

    sequence->OnClose();
    ASSERT_TRUE(Exit(1500ms));
    EXPECT_FALSE(services->Engine().IsWorking()) << "the window went before the update's thread ended";
    EXPECT_NE(status, "Paused") << "the status line hid why the launcher stopped";
}

// A download capped by launcher.conf, paused half-way: nothing moves while paused, the
// status says so, and the resumed download installs the file from where it stood, the
// server asked once.
TEST_F(SequenceTest, PauseHoldsTheDownloadAndResumeContinuesItWithoutFetchingAgain)
{
    NginxServer server;
    TestRelease release;
    const std::string content = std::string(600000, 'P') + std::string(600000, 'Q');
    release.Add("data/large.bin", content);
    release.Publish(server.Root() + "/release", "2.0");
    Configure(server.Url("/release/"), "maxDownloadRate=400\n");
    Open();
    ASSERT_TRUE(RunUntil([&] { return gauge > 200000; })) << status;
    sequence->OnPauseResume();
    RunUntil([] { return false; }, 500ms);
    const std::int64_t paused = gauge;
    RunUntil([] { return false; }, 1500ms);
    EXPECT_EQ(gauge, paused) << "the download went on while paused";
    EXPECT_EQ(status, "Paused");

    sequence->OnPauseResume();
    ASSERT_TRUE(RunUntil([&] { return sequence->GetState() == STATE_UPDATE_DONE; })) << status;
    EXPECT_EQ(install.Read("data/large.bin"), content);
    EXPECT_EQ(server.Requests("/release/a.zip", 1), 1) << "the download was asked for again";
}

// Verify hashes every file of a current installation: a changed one is fetched again and
// reported, Play waiting meanwhile; an intact installation is reported as such.
TEST_F(SequenceTest, VerifyRepairsAChangedFileAndSaysWhatItRepaired)
{
    NginxServer server;
    TestRelease release;
    release.Add("data/a.bin", "the first file");
    release.Add("data/b.bin", "the second file");
    release.Publish(server.Root() + "/release", "2.0");
    Configure(server.Url("/release/"));
    Open();
    ASSERT_TRUE(RunUntil([&] { return sequence->GetState() == STATE_UPDATE_DONE; })) << status;
    EXPECT_TRUE(view.verifyEnabled);
    EXPECT_EQ(view.notice, "The update is done. You can play now.");

    const std::pair<int, std::string> outcomes[] = {{STATE_UPDATE_DONE, "Verified: 1 files repaired."},
                                                    {STATE_READY, "Verified: every file is intact."}};
    install.Write("data/b.bin", "the broken file");
    for (const auto& [state, text] : outcomes) {
        sequence->OnVerify();
        EXPECT_FALSE(view.playEnabled || view.verifyEnabled);
        ASSERT_TRUE(RunUntil([&] { return view.playEnabled && view.verifyEnabled; })) << status;
        EXPECT_EQ(sequence->GetState(), state);
        EXPECT_EQ(status, text);
        EXPECT_EQ(view.notice, text) << "the desktop is told what the status says";
        EXPECT_EQ(install.Read("data/b.bin"), "the second file");
    }
}

} // namespace
