#pragma once

#include "app/LauncherConfig.h"
#include "app/LauncherView.h"
#include "common/AskUser.h"

#include <wx/frame.h>
#include <wx/timer.h>

#include <cstdint>
#include <memory>
#include <vector>

class LauncherSequence;
class LauncherServices;
class NewsPageGuard;
class wxBoxSizer;
class wxButton;
class wxCheckBox;
class wxChoice;
class wxComboBox;
class wxGauge;
class wxHyperlinkCtrl;
class wxPanel;
class wxStaticText;
class wxThreadEvent;
class wxWebView;
class wxWebViewEvent;
class wxWrapSizer;

// The launcher's only window: the news page, the status line, the display
// choices and the download limit, the gauge with its figures and the pause
// button, "Verify files", the "Problems?" link and Play. It owns the services the
// workers use and the launcher's sequence, which handles the workers' events
// that move it on; the window passes the player's events to the sequence and
// shows progress and status texts.
class LauncherFrame : public wxFrame, private LauncherView {
public:
    // askUser shows the message boxes the sequence needs.
    LauncherFrame(const LauncherConfig* config, wxWindow* parent, wxWindowID id, const wxString& title,
                  const wxPoint& pos, const wxSize& size, long style, AskUser askUser);
    // Saves the player's choices, then ends every thread before what it uses goes.
    ~LauncherFrame() override;

private:
    void CreateControls();
    void CreateChoices();
    void CreateActions();
    void NameControls();
    void LayOutControls();
    // Fits the window to its contents, within the screen's free area.
    void SizeToScreen();
    void PreselectChoices();
    // The configured address with the placeholders that both pages carry filled in.
    wxString WithIdentifiers(const wxString& url) const;

    void EnablePlay(bool enable) override;
    void ShowMiniBrowser() override;
    void LoadNewsPage() override;
    void ReloadNewsPage() override;
    void RequestAttention(const wxString& notice) override;
    GameChoices Choices() const override;
    void HideWindow() override;
    void StopPulse() override;
    void StartExitTimer() override;
    void StopExitTimer() override;
    void DestroyWindow() override;
    void ShowPauseControl(bool shown, bool paused) override;
    void EnableVerify(bool enable) override;

    void OnStatusMessage(wxThreadEvent& event);
    void OnDisplayTimer(wxTimerEvent& event);
    // Shows the newest status text and gauge position now, or when the
    // display timer runs out if they changed less than an interval ago.
    void ShowPendingSoon();
    void ShowPending();
    void ShowStatus(const wxString& text, int kind);
    // Breaks the status text to the width it has, so that it grows down, never sideways.
    void WrapStatus();
    void OnPanelSize(wxSizeEvent& event);
    void ShowProgressAmount();
    void OnProgressUpdated(wxThreadEvent& event);
    void OnProgressRangeUpdated(wxThreadEvent& event);
    void OnProgressPulse(wxThreadEvent& event);
    void OnClose(wxCloseEvent& event);
    void OnExitTimer(wxTimerEvent& event);
    void OnPulseTimer(wxTimerEvent& event);
    void OnPlay(wxCommandEvent& event);
    void OnPauseResume(wxCommandEvent& event);
    void OnVerify(wxCommandEvent& event);
    void OnDownloadRateChosen(wxCommandEvent& event);
    void OnWebViewError(wxWebViewEvent& event);

    wxBoxSizer* sizer = nullptr;
    wxPanel* panel = nullptr;
    wxBoxSizer* panelSizer = nullptr;
    wxWebView* webView = nullptr;
    // Goes before the view, with the frame's members.
    std::unique_ptr<NewsPageGuard> newsGuard;
    wxBoxSizer* statusSizer = nullptr;
    wxWrapSizer* barSizer = nullptr;
    wxStaticText* resolutionLabel = nullptr;
    wxComboBox* resolutionChoice = nullptr;
    wxStaticText* qualityLabel = nullptr;
    wxComboBox* qualityChoice = nullptr;
    wxCheckBox* fullscreenCheck = nullptr;
    wxStaticText* rateLabel = nullptr;
    wxChoice* rateChoice = nullptr;
    // The rate of each entry of the choice, in KiB/s.
    std::vector<int> downloadRates;
    wxStaticText* versionText = nullptr;
    wxBoxSizer* progressSizer = nullptr;
    wxTimer exitTimer;
    wxTimer pulseTimer;
    // The newest status text and gauge position not shown yet, and what keeps
    // them from changing too often.
    wxTimer displayTimer;
    wxString pendingStatus;
    int pendingKind = 0;
    bool statusPending = false;
    int pendingPosition = 0;
    bool positionPending = false;
    // The status as the notifier sent it, before breaking it into lines.
    wxString shownStatus;
    // The gauge's figures in their own units (bytes while an update downloads).
    std::int64_t progressDone = 0;
    std::int64_t progressTotal = 0;
    wxButton* playButton = nullptr;
    wxButton* pauseButton = nullptr;
    wxButton* verifyButton = nullptr;
    wxGauge* gauge = nullptr;
    wxStaticText* statusText = nullptr;
    wxStaticText* amountText = nullptr;
    wxHyperlinkCtrl* problemsLink = nullptr;
    LauncherConfig config;
    // The catalog, notifier, telemetry client and engine, in the order they must go.
    std::unique_ptr<LauncherServices> services;
    std::unique_ptr<LauncherSequence> sequence;

    wxDECLARE_EVENT_TABLE();
};
