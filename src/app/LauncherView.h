#pragma once

#include "app/GameLauncher.h"

// What the launcher's sequence asks of its window. The window keeps the
// controls; the sequence decides when each of these happens.
class LauncherView {
public:
    virtual ~LauncherView() = default;

    virtual void EnablePlay(bool enable) = 0;
    // Play becomes "Refresh" for the page, and the status line says so.
    virtual void ShowMiniBrowser() = 0;
    virtual void LoadNewsPage() = 0;
    virtual void ReloadNewsPage() = 0;
    // Asks the player to look at the window, without alarm; a player who is
    // elsewhere is told notice, unless it is empty, on the desktop.
    virtual void RequestAttention(const wxString& notice) = 0;
    virtual GameChoices Choices() const = 0;
    virtual void HideWindow() = 0;
    virtual void StopPulse() = 0;
    // One tick a second for the exit sequence, until stopped.
    virtual void StartExitTimer() = 0;
    virtual void StopExitTimer() = 0;
    // Destroys the window once pending events are done; the application ends with it.
    virtual void DestroyWindow() = 0;
    // The pause control: shown while an update downloads; paused tells
    // whether a press resumes (true) or pauses (false).
    virtual void ShowPauseControl(bool shown, bool paused) = 0;
    // The verify action is offered only when nothing runs that it would disturb.
    virtual void EnableVerify(bool enable) = 0;
};
