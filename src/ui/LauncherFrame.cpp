#include "ui/LauncherFrame.h"

#include "app/GameSettings.h"
#include "app/LauncherSequence.h"
#include "app/LauncherServices.h"
#include "platform/Resources.h"
#include "progress/LauncherEvents.h"
#include "progress/ProgressNotifier.h"
#include "telemetry/TelemetryClient.h"
#include "ui/AccessibleName.h"
#include "ui/DisplayResolutions.h"
#include "ui/DownloadRates.h"
#include "ui/GaugeHeight.h"
#include "ui/NewsPageGuard.h"
#include "ui/ProgressAmount.h"
#include "update/UpdateEngine.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/display.h>
#include <wx/gauge.h>
#include <wx/hyperlink.h>
#include <wx/icon.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/mstream.h>
#include <wx/notifmsg.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/utils.h>
#include <wx/webview.h>
#include <wx/wrapsizer.h>

#include <algorithm>
#include <initializer_list>

namespace {

enum ControlId : int {
    PANEL_ID = 1040,
    WEB_VIEW_ID = 1062,
    STATUS_ID = 1063,
    GAUGE_ID = 1072,
    PLAY_ID = 1073,
    EXIT_TIMER_ID = 1076,
    PULSE_TIMER_ID = 1078,
    RESOLUTION_CHOICE_ID = 1079,
    RESOLUTION_LABEL_ID = 1080,
    QUALITY_CHOICE_ID = 1081,
    QUALITY_LABEL_ID = 1082,
    FULLSCREEN_ID = 1083,
    PROBLEMS_LINK_ID = 1084,
    DISPLAY_TIMER_ID = 1085,
    AMOUNT_ID = 1086,
    VERSION_ID = 1087,
    PAUSE_ID = 1088,
    VERIFY_ID = 1089,
    RATE_LABEL_ID = 1090,
    RATE_CHOICE_ID = 1091,
};

const wxSize NEWS_PAGE_SIZE(900, 450);
// Small enough for an 800x600 screen with a panel, large enough for every
// control: the news page gives up what the rows need.
const wxSize MIN_NEWS_PAGE_SIZE(320, 120);
const wxSize MIN_WINDOW_SIZE(720, 460);
constexpr int BORDER = 10;
constexpr int GAUGE_HEIGHT = 14;
// Readable on the theme's light background: 6.8:1 against #f6f5f4, where the
// plain red reads 3.7:1.
const wxColour ERROR_COLOUR(0xB0, 0x00, 0x20);
constexpr int EXIT_TICK_MS = 1000;
constexpr int PULSE_MS = 100;
// The status line and the gauge change at most this often: the workers report
// far more often than anyone can read, and each change costs the GUI thread.
constexpr int DISPLAY_INTERVAL_MS = 100;

wxIcon LauncherIcon()
{
    const std::span<const unsigned char> png = platform::LoadResourceData("ICON_LAUNCHER", "ICON");
    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG))
        wxImage::AddHandler(new wxPNGHandler);
    wxMemoryInputStream stream(png.data(), png.size());
    wxIcon icon;
    icon.CopyFromBitmap(wxBitmap(wxImage(stream, wxBITMAP_TYPE_PNG)));
    return icon;
}

} // namespace

LauncherFrame::LauncherFrame(const LauncherConfig* launcherConfig, wxWindow* parent, wxWindowID id,
                             const wxString& title, const wxPoint& pos, const wxSize& size, long style,
                             AskUser askUser)
    : wxFrame(parent, id, title, pos, size, style), exitTimer(this, EXIT_TIMER_ID),
      pulseTimer(this, PULSE_TIMER_ID), displayTimer(this, DISPLAY_TIMER_ID), config(*launcherConfig)
{
    services = std::make_unique<LauncherServices>(config, this, config.settingsDir);
    LauncherView& view = *this;
    sequence = std::make_unique<LauncherSequence>(config, *services, view, this, std::move(askUser));
    CreateControls();
    LayOutControls();
    ShowStatus(_("Initial setup..."), MESSAGE_INFO);
    playButton->Disable();
    sequence->Start();
}

LauncherFrame::~LauncherFrame()
{
    config.resolution = resolutionChoice->GetValue();
    config.quality = qualityChoice->GetValue();
    config.fullscreen = fullscreenCheck->GetValue();
    config.maxDownloadRate = downloadRates[rateChoice->GetSelection()];
    config.SaveUserConfig();
    // Every thread ends before what it uses goes: the game watcher first, then
    // the engine's worker and the telemetry threads, and the catalog they
    // translate with last.
    sequence.reset();
    services.reset();
}

void LauncherFrame::CreateControls()
{
    panel = new wxPanel(this, PANEL_ID, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL | wxNO_BORDER);
    webView = wxWebView::New(panel, WEB_VIEW_ID, wxString(), wxPoint(0, 0), NEWS_PAGE_SIZE,
                             wxWebViewBackendDefault, 0, "NewsPage");
    // Without a web engine the launcher still updates and starts the game.
    if (webView == nullptr) {
        wxLogError("WebView: no web engine, the news page stays empty.");
        new wxPanel(panel, WEB_VIEW_ID, wxPoint(0, 0), NEWS_PAGE_SIZE);
    } else {
        newsGuard = std::make_unique<NewsPageGuard>(*webView);
    }
    statusText =
        new wxStaticText(panel, STATUS_ID, _("Status"), wxDefaultPosition, wxDefaultSize, 0, "StatusMessage");
    versionText = new wxStaticText(panel, VERSION_ID, wxString(), wxDefaultPosition, wxDefaultSize, 0,
                                   "InstalledVersion");
    CreateChoices();
    CreateActions();
    for (wxWindow* control :
         std::initializer_list<wxWindow*>{statusText, resolutionLabel, resolutionChoice, qualityLabel,
                                          qualityChoice, fullscreenCheck, rateLabel, rateChoice})
        control->SetFont(*wxNORMAL_FONT);
    // The status line takes as many lines as its text needs.
    statusText->SetMinSize(wxSize(0, -1));
    // Keys reach the controls before the page's many links.
    panel->FindWindow(WEB_VIEW_ID)->MoveAfterInTabOrder(playButton);
    NameControls();
    PreselectChoices();
}

void LauncherFrame::CreateChoices()
{
    resolutionLabel = new wxStaticText(panel, RESOLUTION_LABEL_ID, _("Resolution"), wxDefaultPosition,
                                       wxDefaultSize, 0, "TextResolution");
    resolutionChoice =
        new wxComboBox(panel, RESOLUTION_CHOICE_ID, wxString(), wxDefaultPosition, wxDefaultSize,
                       GetResolutionChoices(), wxCB_READONLY, wxDefaultValidator, "ResolutionChoice");
    qualityLabel = new wxStaticText(panel, QUALITY_LABEL_ID, _("Quality"), wxDefaultPosition, wxDefaultSize,
                                    0, "TextQuality");
    qualityChoice = new wxComboBox(panel, QUALITY_CHOICE_ID, wxString(), wxDefaultPosition, wxDefaultSize,
                                   GetQualityNames(), wxCB_READONLY, wxDefaultValidator, "QualityChoice");
    fullscreenCheck = new wxCheckBox(panel, FULLSCREEN_ID, _("Fullscreen"), wxDefaultPosition, wxDefaultSize,
                                     wxALIGN_RIGHT, wxDefaultValidator, "FullscreenCheck");
    rateLabel = new wxStaticText(panel, RATE_LABEL_ID, _("Download limit"), wxDefaultPosition, wxDefaultSize,
                                 0, "TextDownloadLimit");
    downloadRates = DownloadRateChoices(config.maxDownloadRate);
    wxArrayString rateTexts;
    for (int rate : downloadRates)
        rateTexts.Add(DownloadRateText(rate));
    rateChoice = new wxChoice(panel, RATE_CHOICE_ID, wxDefaultPosition, wxDefaultSize, rateTexts, 0,
                              wxDefaultValidator, "DownloadLimitChoice");
}

// The gauge and what the player can do beside it.
void LauncherFrame::CreateActions()
{
    gauge = new wxGauge(panel, GAUGE_ID, 100, wxDefaultPosition, wxDefaultSize, wxGA_HORIZONTAL,
                        wxDefaultValidator, "Progress");
    amountText =
        new wxStaticText(panel, AMOUNT_ID, wxString(), wxDefaultPosition, wxDefaultSize, 0, "ProgressAmount");
    SetGaugeHeight(*gauge, GAUGE_HEIGHT);
    pauseButton = new wxButton(panel, PAUSE_ID, _("Pause"), wxDefaultPosition, wxDefaultSize, 0,
                               wxDefaultValidator, "PauseButton");
    pauseButton->Hide();
    verifyButton = new wxButton(panel, VERIFY_ID, _("Verify files"), wxDefaultPosition, wxDefaultSize, 0,
                                wxDefaultValidator, "VerifyButton");
    verifyButton->Disable();
    problemsLink =
        new wxHyperlinkCtrl(panel, PROBLEMS_LINK_ID, _("Problems?"), WithIdentifiers(config.problemsUrl),
                            wxDefaultPosition, wxDefaultSize, wxHL_DEFAULT_STYLE, "ProblemsLink");
    playButton = new wxButton(panel, PLAY_ID, _("Play"), wxDefaultPosition, wxDefaultSize, 0,
                              wxDefaultValidator, "PlayButton");
}

void LauncherFrame::NameControls()
{
    SetAccessibleName(*resolutionChoice, resolutionLabel->GetLabelText());
    SetAccessibleName(*qualityChoice, qualityLabel->GetLabelText());
    SetAccessibleName(*fullscreenCheck, fullscreenCheck->GetLabelText());
    SetAccessibleName(*rateChoice, rateLabel->GetLabelText());
    SetAccessibleName(*gauge, _("Progress"));
}

// The news page takes what the window has to spare; the rows below it keep
// their height, the choices move to a second line when the window is narrow,
// and Play stays in the bottom row.
void LauncherFrame::LayOutControls()
{
    sizer = new wxBoxSizer(wxHORIZONTAL);
    panelSizer = new wxBoxSizer(wxVERTICAL);
    statusSizer = new wxBoxSizer(wxHORIZONTAL);
    barSizer = new wxWrapSizer(wxHORIZONTAL);
    progressSizer = new wxBoxSizer(wxHORIZONTAL);
    // Where an item expands, that alone places it: the toolkit rejects an
    // alignment beside wxEXPAND, and would ignore it anyway.
    sizer->Add(panel, 1, wxEXPAND, 0);
    panelSizer->Add(panel->FindWindow(WEB_VIEW_ID), 1, wxEXPAND | wxBOTTOM, BORDER);
    panelSizer->Add(statusSizer, 0, wxEXPAND | wxLEFT | wxRIGHT, BORDER);
    panelSizer->Add(barSizer, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, BORDER);
    panelSizer->Add(progressSizer, 0, wxEXPAND | wxALL, BORDER);
    statusSizer->Add(statusText, 1, wxALIGN_CENTER_VERTICAL, 0);
    statusSizer->Add(versionText, 0, wxALIGN_TOP | wxLEFT, BORDER);
    for (auto [label, choice] : {std::pair<wxWindow*, wxWindow*>{resolutionLabel, resolutionChoice},
                                 {qualityLabel, qualityChoice},
                                 {rateLabel, rateChoice}}) {
        auto* pair = new wxBoxSizer(wxHORIZONTAL);
        pair->Add(label, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 5);
        pair->Add(choice, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 20);
        barSizer->Add(pair, 0, wxBOTTOM, 4);
    }
    barSizer->Add(fullscreenCheck, 0, wxALIGN_CENTER_VERTICAL | wxBOTTOM, 4);
    progressSizer->Add(gauge, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT, 8);
    progressSizer->Add(amountText, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, BORDER);
    progressSizer->Add(pauseButton, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, BORDER);
    progressSizer->Add(verifyButton, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, BORDER);
    progressSizer->Add(problemsLink, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, BORDER);
    progressSizer->Add(playButton, 0, wxALIGN_CENTER_VERTICAL, 0);
    panel->SetSizer(panelSizer);
    panel->Bind(wxEVT_SIZE, &LauncherFrame::OnPanelSize, this);

    SetTitle(_("Velorian Launcher"));
    SetIcon(LauncherIcon());
    SetSizer(sizer);
    SizeToScreen();
}

// The window opens with the news page at its full size, then lets it shrink.
void LauncherFrame::SizeToScreen()
{
    wxWindow* newsPage = panel->FindWindow(WEB_VIEW_ID);
    newsPage->SetMinSize(NEWS_PAGE_SIZE);
    Fit();
    newsPage->SetMinSize(MIN_NEWS_PAGE_SIZE);
    SetMinSize(MIN_WINDOW_SIZE);
    const int screen = wxDisplay::GetFromWindow(this);
    const wxRect area = wxDisplay(screen == wxNOT_FOUND ? 0u : static_cast<unsigned>(screen)).GetClientArea();
    SetSize(std::min(GetSize().x, area.width), std::min(GetSize().y, area.height));
    Centre(wxBOTH);
}

void LauncherFrame::PreselectChoices()
{
    const int resolution =
        PreselectResolution(resolutionChoice->GetStrings(), config.resolution, GetCurrentResolution());
    if (resolution >= 0)
        resolutionChoice->SetSelection(resolution);
    rateChoice->SetSelection(
        static_cast<int>(std::find(downloadRates.begin(), downloadRates.end(), config.maxDownloadRate) -
                         downloadRates.begin()));
    const int quality = PreselectQuality(qualityChoice->GetStrings(), config.quality);
    if (quality >= 0)
        qualityChoice->SetSelection(quality);
    fullscreenCheck->SetValue(config.fullscreen);
}

wxString LauncherFrame::WithIdentifiers(const wxString& url) const
{
    wxString filled(url);
    filled.Replace("${clientid}", services->Telemetry().GetClientId());
    filled.Replace("${sessionid}", services->Telemetry().GetSessionId());
    return filled;
}

// Play, once it can be pressed, is what Enter does.
void LauncherFrame::EnablePlay(bool enable)
{
    playButton->Enable(enable);
    if (!enable)
        return;
    playButton->SetDefault();
    playButton->SetFocus();
    if (services->Engine().IsLocalVersionValid())
        versionText->SetLabelText(wxString::Format(_("Version %s"), services->Engine().GetLocalVersion()));
    // The download is over: its last figures were not all bytes.
    ShowProgressAmount();
    panel->Layout();
}

void LauncherFrame::ShowMiniBrowser()
{
    ShowStatus(_("Mini-browser mode."), MESSAGE_INFO);
    playButton->SetLabel("Refresh");
    EnablePlay(true);
}

void LauncherFrame::LoadNewsPage()
{
    wxString url = WithIdentifiers(config.newsUrl);
    url.Replace("${versionid}", services->Engine().GetLocalVersion());
    url.Replace("${firsttime}", config.firstRun ? "1" : "0");
    wxLogMessage("Using news URL: %s", url);
    if (newsGuard)
        newsGuard->Load(url);
}

void LauncherFrame::ReloadNewsPage()
{
    if (newsGuard)
        newsGuard->Reload();
}

void LauncherFrame::RequestAttention(const wxString& notice)
{
    RequestUserAttention(wxUSER_ATTENTION_INFO);
    if (!IsActive() && !notice.empty())
        wxNotificationMessage(GetTitle(), notice, this).Show();
}

GameChoices LauncherFrame::Choices() const
{
    return {resolutionChoice->GetValue(), qualityChoice->GetSelection(), fullscreenCheck->GetValue()};
}

void LauncherFrame::HideWindow()
{
    Hide();
}

void LauncherFrame::StopPulse()
{
    pulseTimer.Stop();
}

void LauncherFrame::StartExitTimer()
{
    exitTimer.Start(EXIT_TICK_MS);
}

void LauncherFrame::StopExitTimer()
{
    exitTimer.Stop();
}

void LauncherFrame::DestroyWindow()
{
    Destroy();
}

void LauncherFrame::ShowPauseControl(bool shown, bool paused)
{
    pauseButton->SetLabel(paused ? _("Resume") : _("Pause"));
    pauseButton->Show(shown);
    progressSizer->Layout();
}

void LauncherFrame::EnableVerify(bool enable)
{
    verifyButton->Enable(enable);
}

void LauncherFrame::OnStatusMessage(wxThreadEvent& event)
{
    pendingStatus = event.GetString();
    pendingKind = event.GetInt();
    statusPending = true;
    ShowPendingSoon();
}

void LauncherFrame::OnProgressUpdated(wxThreadEvent& event)
{
    pulseTimer.Stop();
    wxLogVerbose("Progress updated: %d", event.GetInt());
    pendingPosition = event.GetInt();
    progressDone = ProgressUnits(event);
    positionPending = true;
    ShowPendingSoon();
}

void LauncherFrame::ShowPendingSoon()
{
    if (!displayTimer.IsRunning())
        ShowPending();
}

void LauncherFrame::OnDisplayTimer(wxTimerEvent&)
{
    ShowPending();
}

void LauncherFrame::ShowPending()
{
    if (!statusPending && !positionPending)
        return;
    if (statusPending)
        ShowStatus(pendingStatus, pendingKind);
    if (positionPending) {
        gauge->SetValue(std::clamp(pendingPosition, 0, gauge->GetRange()));
        ShowProgressAmount();
    }
    statusPending = positionPending = false;
    displayTimer.StartOnce(DISPLAY_INTERVAL_MS);
}

void LauncherFrame::ShowStatus(const wxString& text, int kind)
{
    // A word, not the colour alone, tells an error.
    if (kind == MESSAGE_ERROR) {
        shownStatus = _("Error:") + " " + text;
        statusText->SetForegroundColour(ERROR_COLOUR);
        RequestUserAttention(wxUSER_ATTENTION_ERROR);
        wxBell();
    } else {
        shownStatus = text;
        statusText->SetForegroundColour(wxNullColour);
    }
    // The panel holds the news page, whose relayout is costly: only a status
    // that takes another number of lines moves the rows below it.
    const int height = statusText->GetSize().GetHeight();
    WrapStatus();
    if (statusText->GetSize().GetHeight() != height)
        panel->Layout();
}

void LauncherFrame::WrapStatus()
{
    const int width = panel->GetClientSize().GetWidth() - 2 * BORDER - versionText->GetSize().GetWidth() -
                      (versionText->GetLabel().empty() ? 0 : BORDER);
    statusText->SetLabelText(shownStatus);
    statusText->Wrap(std::max(width, 1));
}

void LauncherFrame::OnPanelSize(wxSizeEvent& event)
{
    WrapStatus();
    event.Skip();
}

void LauncherFrame::ShowProgressAmount()
{
    const bool bytes = sequence->GetState() == STATE_UPDATING;
    const wxString text = ProgressAmountText(progressDone, progressTotal, bytes);
    if (text == amountText->GetLabelText())
        return;
    const int width = amountText->GetMinSize().GetWidth();
    amountText->SetLabelText(text);
    // As wide as the figures at the end of the range, so that the gauge keeps
    // its length while they grow: the row is laid out again only when the
    // range changes.
    const int widest = amountText->GetTextExtent(ProgressAmountText(progressTotal, progressTotal, bytes)).x;
    amountText->SetMinSize(wxSize(std::max(widest, amountText->GetBestSize().x), -1));
    if (amountText->GetMinSize().GetWidth() != width)
        progressSizer->Layout();
}

void LauncherFrame::OnProgressRangeUpdated(wxThreadEvent& event)
{
    pulseTimer.Stop();
    wxLogVerbose("Progress range updated: %d", event.GetInt());
    gauge->SetRange(std::max(event.GetInt(), 0));
    progressTotal = ProgressUnits(event);
    ShowProgressAmount();
}

void LauncherFrame::OnProgressPulse(wxThreadEvent&)
{
    pulseTimer.Start(PULSE_MS);
    gauge->Pulse();
}

void LauncherFrame::OnPulseTimer(wxTimerEvent&)
{
    gauge->Pulse();
}

// Consumed without a veto: the exit sequence closes the window when the threads are done.
void LauncherFrame::OnClose(wxCloseEvent&)
{
    sequence->OnClose();
}

void LauncherFrame::OnExitTimer(wxTimerEvent&)
{
    sequence->OnExitTimer();
}

void LauncherFrame::OnPlay(wxCommandEvent&)
{
    sequence->OnPlay();
}

void LauncherFrame::OnPauseResume(wxCommandEvent&)
{
    sequence->OnPauseResume();
}

void LauncherFrame::OnVerify(wxCommandEvent&)
{
    sequence->OnVerify();
}

void LauncherFrame::OnDownloadRateChosen(wxCommandEvent&)
{
    sequence->OnDownloadRateChosen(downloadRates[rateChoice->GetSelection()]);
}

void LauncherFrame::OnWebViewError(wxWebViewEvent& event)
{
    wxLogError("WebView: Error loading %s", event.GetURL());
}

// The launcher's events carry their payload in a thread event.
#define EVT_LAUNCHER(type, handler) wx__DECLARE_EVT0(type, wxThreadEventHandler(handler))

// The table is the file's last part: the formatter would indent what follows it.
// clang-format off
wxBEGIN_EVENT_TABLE(LauncherFrame, wxFrame)
    EVT_LAUNCHER(wxEVT_STATUS_MESSAGE, LauncherFrame::OnStatusMessage)
    EVT_LAUNCHER(wxEVT_PROGRESS_UPDATED, LauncherFrame::OnProgressUpdated)
    EVT_LAUNCHER(wxEVT_PROGRESS_RANGE_UPDATED, LauncherFrame::OnProgressRangeUpdated)
    EVT_LAUNCHER(wxEVT_PROGRESS_PULSE, LauncherFrame::OnProgressPulse)
    EVT_CLOSE(LauncherFrame::OnClose)
    EVT_TIMER(EXIT_TIMER_ID, LauncherFrame::OnExitTimer)
    EVT_TIMER(PULSE_TIMER_ID, LauncherFrame::OnPulseTimer)
    EVT_TIMER(DISPLAY_TIMER_ID, LauncherFrame::OnDisplayTimer)
    EVT_BUTTON(PLAY_ID, LauncherFrame::OnPlay)
    EVT_BUTTON(PAUSE_ID, LauncherFrame::OnPauseResume)
    EVT_BUTTON(VERIFY_ID, LauncherFrame::OnVerify)
    EVT_CHOICE(RATE_CHOICE_ID, LauncherFrame::OnDownloadRateChosen)
    EVT_WEBVIEW_ERROR(WEB_VIEW_ID, LauncherFrame::OnWebViewError)
wxEND_EVENT_TABLE()
