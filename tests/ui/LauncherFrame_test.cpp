// A real launcher window in this process, on the test display, driven the way
// its workers drive it: by posting their events and running the pending ones.
#include "ui/LauncherFrame.h"

#include "progress/LauncherEvents.h"
#include "progress/ProgressNotifier.h"
#include "support/LogCapture.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"
#include "support/TestRelease.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/combobox.h>
#include <wx/filename.h>
#include <wx/stattext.h>
#include <wx/utils.h>
#include <wx/weakref.h>
#include <wx/webview.h>

#include <chrono>
#include <cstdlib>
#include <functional>

namespace {

using namespace std::chrono_literals;

const std::string VERSION = "1.0";

enum : int { WEB_VIEW = 1062, STATUS = 1063, PLAY = 1073, QUALITY = 1081, FULLSCREEN = 1083 };

// Runs the toolkit's events until done holds; false when it did not within timeout.
bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 20s)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        wxTheApp->Yield(true);
        wxTheApp->ProcessIdle();
        wxMilliSleep(10);
    }
    return true;
}

// A release on nginx with a news page beside it, and an installation whose
// launcher.conf points at both.
class WindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (wxTheApp == nullptr)
            GTEST_SKIP() << "needs an X display (the test command provides Xvfb)";
        TestRelease release;
        release.Add("data/readme.txt", "Velorian\n");
        release.Publish(server.Root() + "/release", VERSION, "pt");
        release.Publish(server.Root() + "/release", VERSION, "en");
        server.Write("news.html", "<html><body><h1>Velorian</h1><p>News of the week.</p></body></html>");
        Configure(server.Url("/news.html"));
    }

    void TearDown() override
    {
        if (frame)
            frame->Destroy();
        RunUntil([this] { return !frame; });
    }

    void Configure(const std::string& newsUrl)
    {
        install.Write("launcher.conf", "enableLogDebug=1\nbaseUrl=" + server.Url("/release/") + "\nnewsUrl=" +
                                           newsUrl + "\nuploadUrl=" + server.Url("/telemetry") + "\n");
    }

    // Opens the window on the installation's settings, as the application does.
    LauncherFrame& Open(int languageId = LANGUAGE_PORTUGUESE_BRAZILIAN)
    {
        config.SetDefaults(install.Path());
        config.LoadConfig();
        config.languageId = languageId;
        config.languageCode = LanguageCode(languageId);
        config.gameRunning = gameRunning;
        frame = new LauncherFrame(&config, nullptr, 1, "Launcher", wxDefaultPosition, wxDefaultSize,
                                  wxCAPTION | wxSYSTEM_MENU | wxMINIMIZE_BOX | wxCLOSE_BOX,
                                  [this](const wxString& message, const wxString&, long) {
                                      asked.push_back(message.utf8_string());
                                      return wxOK;
                                  });
        frame->Show();
        return *frame;
    }

    // A window that starts no thread: the game runs, so the installed version is taken as it is.
    LauncherFrame& OpenIdle()
    {
        install.Write("version.inf", VERSION);
        gameRunning = true;
        return Open();
    }

    template <typename Control> Control* Find(int id) const
    {
        return dynamic_cast<Control*>(wxWindow::FindWindowById(id, frame));
    }

    // The status line without the breaks that wrapping put in.
    std::string Status() const
    {
        wxString text = Find<wxStaticText>(STATUS)->GetLabel();
        text.Replace("\n", " ");
        return text.utf8_string();
    }

    void Post(wxEventType type, int value = 0, const wxString& text = wxString()) const
    {
        if (type == wxEVT_BUTTON) {
            wxCommandEvent click(wxEVT_BUTTON, PLAY);
            frame->GetEventHandler()->AddPendingEvent(click);
            return;
        }
        wxThreadEvent event(type);
        event.SetInt(value);
        event.SetString(text);
        frame->GetEventHandler()->AddPendingEvent(event);
    }

    // The window as the screen shows it, for review, under the build directory.
    void SaveScreenshot(const wxString& name) const
    {
        const wxRect area = frame->GetScreenRect();
        wxFileName::Mkdir(SCREENSHOT_DIR, wxS_DIR_DEFAULT, wxPATH_MKDIR_FULL);
        const wxString command =
            wxString::Format("import -window root -crop %dx%d+%d+%d %s/%s.png", area.width, area.height,
                             area.x, area.y, SCREENSHOT_DIR, name);
        EXPECT_EQ(std::system(command.utf8_str()), 0) << command;
    }

    NginxServer server;
    TempDir install;
    LogCapture log;
    LauncherConfig config;
    bool gameRunning = false;
    wxWeakRef<LauncherFrame> frame;
    std::vector<std::string> asked;
};

TEST_F(WindowTest, StartsDisabledInThePlayersLanguageRestoresTheChoicesAndUpdates)
{
    struct Row {
        int languageId;
        std::string userConf, status, play;
        int quality;
        bool fullscreen;
    };
    const Row rows[] = {
        {LANGUAGE_PORTUGUESE_BRAZILIAN, "quality=fantástico\nfullscreen=0\n", "Configuração inicial...",
         "Jogar", 5, false},
        {LANGUAGE_ENGLISH, "quality=Ultra\n", "Initial setup...", "Play", 4, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.play);
        install.Write("user.conf", row.userConf);
        LauncherFrame& window = Open(row.languageId);
        EXPECT_EQ(window.GetTitle(), "Velorian Launcher");
        EXPECT_TRUE(window.GetIcons().GetIconByIndex(0).IsOk());
        EXPECT_EQ(Status(), row.status);
        auto* play = Find<wxButton>(PLAY);
        EXPECT_EQ(play->GetLabel().utf8_string(), row.play);
        EXPECT_FALSE(play->IsEnabled());
        EXPECT_EQ(Find<wxComboBox>(QUALITY)->GetSelection(), row.quality);
        EXPECT_EQ(Find<wxCheckBox>(FULLSCREEN)->GetValue(), row.fullscreen);

        // The installation is behind the release: the window brings it up to date.
        ASSERT_TRUE(RunUntil([&] { return play->IsEnabled(); }, 60s)) << window.GetState();
        EXPECT_EQ(install.Read("version.inf"), VERSION);
        RunUntil([] { return false; }, 1s); // the page paints
        SaveScreenshot("launcher-" + config.languageCode);
        frame->Close();
        ASSERT_TRUE(RunUntil([this] { return !frame; }, 5s));
        wxRemoveFile(install.File("version.inf"));
    }
}

// Each row posts an event (wxEVT_BUTTON presses Play) and runs the pending ones.
TEST_F(WindowTest, StateFollowsTheWorkersEventsAndIgnoresThemWhileExiting)
{
    LauncherFrame& window = OpenIdle();
    auto* play = Find<wxButton>(PLAY);
    ASSERT_TRUE(
        RunUntil([&] { return Status() == "O Velorian já está em execução. A atualização foi ignorada."; }));
    EXPECT_EQ(window.GetState(), 3);

    // An error turns the status line red until the next text.
    auto* status = Find<wxStaticText>(STATUS);
    const wxColour normal = status->GetForegroundColour();
    Post(wxEVT_STATUS_MESSAGE, MESSAGE_ERROR, "Erro");
    ASSERT_TRUE(RunUntil([&] { return Status() == "Erro"; }));
    EXPECT_EQ(status->GetForegroundColour(), *wxRED);
    Post(wxEVT_STATUS_MESSAGE, MESSAGE_INFO, "Tudo bem");
    ASSERT_TRUE(RunUntil([&] { return Status() == "Tudo bem"; }));
    EXPECT_EQ(status->GetForegroundColour(), normal);

    struct Row {
        wxEventType event;
        int value;
        int state;
        bool play;
        std::string logged;
        bool thenPlay = false; // Play is pressed before the workers report
    };
    const std::string bug = "The PLAY button should be disabled. Most likely a bug. State: ";
    const Row rows[] = {
        {wxEVT_DISABLE_PLAY, 0, 3, false, ""},
        {wxEVT_NO_CHANGES_FOUND, 0, 3, true, ""},
        {wxEVT_UPDATE_STOPPED, 0, 4, false, "Update stopped."},
        {wxEVT_BUTTON, 0, 4, false, bug + "4"},
        {wxEVT_UPDATE_FINISHED, 0, 6, true, ""},
        // The updater finds nothing to fetch and finishes at once.
        {wxEVT_START_UPDATE, 0, 6, true, bug + "5", true},
        // A new launcher was downloaded: the player is told, and the window exits.
        {wxEVT_SELF_UPDATE_DONE, 5, 7, false, "Downloaded new launcher, restarting."},
        {wxEVT_UPDATE_FINISHED, 0, 7, false, "Event OnUpdateFinished while exiting."},
        {wxEVT_UPDATE_STOPPED, 0, 7, false, "Event OnUpdateStopped while exiting."},
        {wxEVT_NO_CHANGES_FOUND, 0, 7, false, "Event OnNoChangesFound while exiting."},
        {wxEVT_UPDATE_STARTED, 0, 7, false, "Event OnUpdateStarted while exiting."},
        {wxEVT_START_UPDATE, 0, 7, false, "Event OnStartUpdate while exiting."},
        {wxEVT_SELF_UPDATE_DONE, 6, 7, false, "Event OnSelfUpdateDone while exiting."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.logged + " in state " + std::to_string(row.state));
        Post(row.event, row.value);
        if (row.thenPlay)
            Post(wxEVT_BUTTON);
        wxTheApp->ProcessPendingEvents();
        ASSERT_TRUE(RunUntil([&] { return window.GetState() == row.state; }));
        ASSERT_TRUE(RunUntil([&] { return row.logged.empty() || log.HasText(row.logged); }));
        EXPECT_EQ(play->IsEnabled(), row.play);
    }
    EXPECT_EQ(asked,
              std::vector<std::string>{"Nova versão do launcher.\nO launcher tentará reiniciar agora."});
    EXPECT_TRUE(RunUntil([this] { return Status() == "Cancelando a atualização..."; }));
    // The first tick finds nothing running and closes the window, saving the choices.
    ASSERT_TRUE(RunUntil([this] { return !frame; }, 5s));
    EXPECT_NE(install.Read("user.conf").find("quality=Bonito\n"), std::string::npos)
        << install.Read("user.conf");
}

// The news page carries the player's identifiers; its "httpx" links go to the
// player's browser while it stays; a news server that is down is only logged.
TEST_F(WindowTest, NewsPageAndItsLinks)
{
    TempDir browser;
    browser.Write("xdg-open", "#!/bin/sh\necho \"$1\" >> '" + browser.File("opened").ToStdString() + "'\n");
    chmod(browser.File("xdg-open").fn_str(), 0755);
    const std::string path = std::getenv("PATH");
    setenv("PATH", (browser.Path().ToStdString() + ":" + path).c_str(), 1);
    server.Write("links.html", "<html><body onload=\"location.href='httpx://help.example.invalid/?a=1'\">"
                               "Links</body></html>");
    const std::string news = server.Url("/links.html") + "?c=${clientid}&v=${versionid}&f=${firsttime}";
    Configure(news);
    OpenIdle();
    const std::string filled = server.Url("/links.html") + "?c=" + install.Read("client.id") + "&v=1.0&f=1";
    EXPECT_TRUE(log.HasText("Using news URL: " + filled));
    EXPECT_TRUE(RunUntil([&] { return wxFileName::FileExists(browser.File("opened")); }));
    setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(browser.Read("opened"), "http://help.example.invalid/?a=1\n");
    EXPECT_EQ(Find<wxWebView>(WEB_VIEW)->GetCurrentURL(), filled);

    frame->Destroy();
    ASSERT_TRUE(RunUntil([this] { return !frame; }));
    Configure("http://127.0.0.1:3/news.html");
    OpenIdle();
    EXPECT_TRUE(RunUntil([&] { return log.HasText("WebView: Error loading http://127.0.0.1:3/news.html"); }));
    EXPECT_EQ(Status(), "O Velorian já está em execução. A atualização foi ignorada.");
}

} // namespace
