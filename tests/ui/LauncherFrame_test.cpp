// A real launcher window in this process, on the test display, in the player's language; the
// sequence of states behind it is tested without a window.
#include "ui/LauncherFrame.h"

#include "progress/LauncherEvents.h"
#include "progress/ProgressNotifier.h"
#include "support/LogCapture.h"
#include "support/NginxServer.h"
#include "support/Polling.h"
#include "support/TempDir.h"
#include "support/TestRelease.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/display.h>
#include <wx/filename.h>
#include <wx/weakref.h>
#include <wx/webview.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>

namespace {

using namespace std::chrono_literals;

const std::string VERSION = "1.0";

// Runs the toolkit's events until done holds; false when it did not within timeout.
bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 20s)
{
    const auto ran = [&] {
        wxTheApp->Yield(true);
        wxTheApp->ProcessIdle();
        return done();
    };
    return WaitUntil(ran, timeout);
}

// A release and a news page on nginx, and an installation whose launcher.conf points at both.
class WindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (wxTheApp == nullptr)
            GTEST_SKIP() << "needs an X display (the test command provides Xvfb)";
        TestRelease release;
        release.Publish(server.Root() + "/release", VERSION, "pt");
        release.Publish(server.Root() + "/release", VERSION, "en");
        server.Write("news.html", "<html><body><h1>Velorian</h1><p>News of the week.</p></body></html>");
        Configure(server.Url("/news.html"));
        install.Write("version.inf", VERSION);
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
    void Open(int languageId, bool gameRunning = false)
    {
        config.SetDefaults(install.Path());
        config.LoadConfig();
        config.languageId = languageId;
        config.languageCode = LanguageCode(languageId);
        config.gameRunning = gameRunning;
        frame = new LauncherFrame(&config, nullptr, 1, "Launcher", wxDefaultPosition, wxDefaultSize,
                                  wxDEFAULT_FRAME_STYLE,
                                  [](const wxString&, const wxString&, long) { return wxOK; });
        frame->Show();
    }

    template <typename Control = wxWindow> Control* Find(const char* name) const
    {
        return dynamic_cast<Control*>(wxWindow::FindWindowByName(name, frame));
    }

    // A control's text without the breaks that wrapping put in.
    std::string Label(const char* name) const
    {
        wxString text = Find(name)->GetLabel();
        text.Replace("\n", " ");
        return text.utf8_string();
    }
    std::string Status() const { return Label("StatusMessage"); }

    // What a screen reader announces as the control takes the focus.
    std::string AnnouncedName(const char* name) const
    {
        Find(name)->SetFocus();
        GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(frame->GetHandle()));
        const char* announced = focus ? atk_object_get_name(gtk_widget_get_accessible(focus)) : nullptr;
        return announced ? announced : "";
    }

    // Tab from a window where nothing has the focus, as the toolkit moves it:
    // every control up to Play before any of the page's links, then the page.
    testing::AssertionResult TabReachesPlayBeforeThePage() const
    {
        GtkWidget* window = frame->GetHandle();
        GtkWidget* page = Find("NewsPage")->GetHandle();
        gtk_window_set_focus(GTK_WINDOW(window), nullptr);
        bool played = false; // the last press reached Play
        for (int press = 1; press <= 13; ++press) {
            gtk_widget_child_focus(window, GTK_DIR_TAB_FORWARD);
            GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(window));
            const bool inPage = focus && (focus == page || gtk_widget_is_ancestor(focus, page));
            if (focus == nullptr || inPage != played)
                return testing::AssertionFailure()
                       << "press " << press << (inPage ? " reached" : " missed") << " the page";
            if (inPage)
                return testing::AssertionSuccess();
            played = focus == Find("PlayButton")->GetHandle();
        }
        return testing::AssertionFailure() << "Play not reached";
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
    wxWeakRef<LauncherFrame> frame;
};

// The contrast ratio of two colours as readability guidelines define it.
double Contrast(const wxColour& a, const wxColour& b)
{
    const auto luminance = [](const wxColour& colour) {
        const auto linear = [](unsigned char value) {
            const double share = value / 255.0;
            return share <= 0.03928 ? share / 12.92 : std::pow((share + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(colour.Red()) + 0.7152 * linear(colour.Green()) +
               0.0722 * linear(colour.Blue());
    };
    // The list form returns values: the pair form would refer to the temporaries.
    const auto [dark, light] = std::minmax({luminance(a), luminance(b)});
    return (light + 0.05) / (dark + 0.05);
}

// The installation is current: the check finds nothing to fetch. The choices'
// saving is seen in the player's run of the real launcher.
TEST_F(WindowTest, TextsAndChoicesInThePlayersLanguageAndAnErrorInRed)
{
    struct Row {
        int languageId;
        std::string userConf;
        std::string labels; // as the window opens
        std::string ready;
        int quality;
        bool fullscreen;
        std::string rate;
        std::string version;
        std::string error;
    };
    const Row rows[] = {
        {LANGUAGE_PORTUGUESE_BRAZILIAN, "quality=fantástico\nfullscreen=0\nmaxDownloadRate=3000\n",
         "Configuração inicial...|Jogar|Resolução|Qualidade|Tela cheia|Limite de download|Problemas?",
         "Clique em 'Jogar' para iniciar o jogo.", 5, false, "3000 KB/s", "Versão 1.0", "Erro: Falhou"},
        {LANGUAGE_ENGLISH, "quality=Ultra\n",
         "Initial setup...|Play|Resolution|Quality|Fullscreen|Download limit|Problems?",
         "Click 'Play' to start the game.", 4, true, "No limit", "Version 1.0", "Error: Falhou"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.ready);
        install.Write("user.conf", row.userConf);
        Open(row.languageId);
        EXPECT_TRUE(frame->GetIcons().GetIconByIndex(0).IsOk());
        std::string labels = Status();
        for (const char* name : {"PlayButton", "TextResolution", "TextQuality", "FullscreenCheck",
                                 "TextDownloadLimit", "ProblemsLink"})
            labels += "|" + Label(name);
        EXPECT_EQ(labels, row.labels);
        auto* play = Find<wxButton>("PlayButton");
        EXPECT_FALSE(play->IsEnabled());
        EXPECT_EQ(Find<wxComboBox>("QualityChoice")->GetSelection(), row.quality);
        EXPECT_EQ(Find<wxCheckBox>("FullscreenCheck")->GetValue(), row.fullscreen);
        auto* rate = Find<wxChoice>("DownloadLimitChoice");
        EXPECT_EQ(rate->GetStringSelection(), row.rate);

        ASSERT_TRUE(RunUntil([&] { return Status() == row.ready; })) << Status();
        EXPECT_TRUE(play->IsEnabled());
        EXPECT_EQ(Label("InstalledVersion"), row.version);
        // Enter plays.
        EXPECT_EQ(frame->GetDefaultItem(), play);
        EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(frame->GetHandle())), play->GetHandle());
        EXPECT_TRUE(TabReachesPlayBeforeThePage());
        RunUntil([] { return false; }, 1s); // the page paints
        SaveScreenshot("launcher-" + config.languageCode);
        for (auto [control, label] : {std::pair{"ResolutionChoice", "TextResolution"},
                                      {"QualityChoice", "TextQuality"},
                                      {"FullscreenCheck", "FullscreenCheck"},
                                      {"DownloadLimitChoice", "TextDownloadLimit"},
                                      {"PlayButton", "PlayButton"}})
            EXPECT_EQ(AnnouncedName(control), Label(label)) << control;

        // A worker's error is marked by a word and a readable red until the next text.
        auto* status = Find("StatusMessage");
        ProgressNotifier worker(frame);
        worker.SetErrorStatus("Falhou");
        ASSERT_TRUE(RunUntil([&] { return Status() == row.error; })) << Status();
        EXPECT_GE(Contrast(status->GetForegroundColour(), status->GetParent()->GetBackgroundColour()), 4.5);
        const wxColour error = status->GetForegroundColour();
        worker.SetStatus("Tudo bem", MESSAGE_INFO);
        ASSERT_TRUE(RunUntil([&] { return Status() == "Tudo bem"; }));
        // The theme's own colour, which follows whether the window has the focus.
        EXPECT_NE(status->GetForegroundColour(), error);

        rate->SetStringSelection("2 MB/s");
        frame->Close();
        ASSERT_TRUE(RunUntil([this] { return !frame; }, 5s));
        EXPECT_NE(install.Read("user.conf").find("maxDownloadRate=2048"), std::string::npos);
    }
}

// The Downloads folder's files with their bytes.
std::string Downloads()
{
    std::string files;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(std::getenv("HOME")) + "/Downloads"))
        files += entry.path().string() + "=" + ReadFileBytes(entry.path().string()) + "\n";
    return files;
}

// The news page carries the player's identifiers, and touches nothing: it saves
// no file, stays on its site, and reaches the player's browser only on a click,
// once a second at most, with its "httpx" links as http. A news page that does
// not load leaves a text of ours in the player's language. The game runs, so
// no thread starts.
TEST_F(WindowTest, NewsPageTouchesNothingAndReachesTheBrowserOnlyOnAClick)
{
    TempDir browser;
    browser.Write("xdg-open", "#!/bin/sh\necho \"$1\" >> '" + browser.File("opened").ToStdString() + "'\n");
    chmod(browser.File("xdg-open").fn_str(), 0755);
    const std::string path = std::getenv("PATH");
    setenv("PATH", (browser.Path().ToStdString() + ":" + path).c_str(), 1);
    NginxServer elsewhere;
    elsewhere.Write("frame.html", "<script>location.href = '/frame-ran.html'</script>");
    const std::string gone = NginxServer().Url("/news.html"); // the server stops at once
    server.Write("notes.txt", "the server's notes");
    WriteFileBytes(std::string(std::getenv("HOME")) + "/Downloads/notes.txt", "the player's notes");
    const std::string downloads = Downloads();
    // Each page fetches "/done" once it has done its part.
    const std::string done = "<script>setTimeout(() => fetch('/done'), 1000)</script>";
    const std::string fullPage = "style='display:block;height:400px'";
    struct Row {
        const char* name;
        std::string page; // empty: nothing answers at the news address
        int clicks;       // on the page's top left
        std::string opened;
    };
    const Row rows[] = {
        {"downloads", "<a href='/notes.txt' download=notes.txt " + fullPage + ">Notes</a>" + done, 1, ""},
        {"flood",
         "<script>setInterval(() => location.href = 'httpx://flood.example.invalid/', 50)</script>" + done, 0,
         ""},
        {"double click", "<a href='httpx://help.example.invalid/?a=1' " + fullPage + ">Help</a>" + done, 2,
         "http://help.example.invalid/?a=1\n"},
        {"other site",
         "<iframe src='" + elsewhere.Url("/frame.html") +
             "'></iframe><script>setTimeout(() => location.href = '" + elsewhere.Url("/login.html") +
             "', 300)</script>" + done,
         0, ""},
        {"unreachable", "", 0, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        wxRemoveFile(browser.File("opened"));
        server.Write("news.html", "<html><body>" + row.page + "</body></html>");
        const std::string news = row.page.empty() ? gone : server.Url("/news.html");
        Configure(news + "?c=${clientid}&v=${versionid}&f=${firsttime}");
        Open(LANGUAGE_PORTUGUESE_BRAZILIAN, true);
        auto* view = Find<wxWebView>("NewsPage");
        const int before = Count(server.AccessLog(), "GET /done");
        EXPECT_TRUE(RunUntil([&] {
            return row.page.empty() ? view->GetPageText().Contains("Não foi possível carregar as notícias.")
                                    : Count(server.AccessLog(), "GET /done") > before;
        }));
        const wxPoint at = view->GetScreenRect().GetPosition() + wxPoint(100, 100);
        frame->Raise();
        for (int click = 0; click < row.clicks; ++click)
            EXPECT_EQ(std::system(wxString::Format("xdotool mousemove %d %d click 1", at.x, at.y).c_str()),
                      0);
        RunUntil([] { return false; }, 1s);
        if (row.page.empty())
            SaveScreenshot("news-error-pt");
        else
            EXPECT_EQ(view->GetCurrentURL(), news + "?c=" + install.Read("client.id") + "&v=1.0&f=1");
        EXPECT_EQ(browser.Read("opened"), row.opened);
        EXPECT_EQ(Downloads(), downloads);
        frame->Destroy();
        ASSERT_TRUE(RunUntil([this] { return !frame; }, 5s));
    }
    setenv("PATH", path.c_str(), 1);
    // The other site's page in a frame of the news page runs its script.
    EXPECT_EQ(elsewhere.Requests("GET /frame-ran.html", 1), 1);
}

// The news page gives way to the rows: on a small screen, with a status of
// several lines, every control stays whole inside the window and the status
// wraps above the choices instead of running under them.
TEST_F(WindowTest, ControlsStayInsideASmallWindowWithALongStatus)
{
    Open(LANGUAGE_PORTUGUESE_BRAZILIAN, true);
    EXPECT_TRUE(wxDisplay(0u).GetClientArea().Contains(frame->GetScreenRect()));
    ProgressNotifier worker(frame);
    wxString longStatus;
    for (int sentence = 0; sentence < 12; ++sentence)
        longStatus += wxString::FromUTF8("Espaço insuficiente no disco para a atualização. ");
    for (const wxSize size : {wxSize(800, 600), frame->GetMinSize()}) {
        frame->SetSize(size);
        worker.SetErrorStatus(longStatus + wxString::Format("%d", size.x));
        ASSERT_TRUE(RunUntil([&] { return Find("StatusMessage")->GetLabel().Freq('\n') >= 2; }));
        RunUntil([] { return false; }, 300ms); // the layout settles
        EXPECT_EQ(frame->GetSize(), size);
        const wxRect client(frame->ClientToScreen(wxPoint(0, 0)), frame->GetClientSize());
        for (const char* name : {"StatusMessage", "ResolutionChoice", "FullscreenCheck", "Progress",
                                 "VerifyButton", "ProblemsLink", "PlayButton"})
            EXPECT_TRUE(client.Contains(Find(name)->GetScreenRect())) << name << " at " << size.x;
        EXPECT_FALSE(
            Find("StatusMessage")->GetScreenRect().Intersects(Find("ResolutionChoice")->GetScreenRect()));
    }
}

} // namespace
