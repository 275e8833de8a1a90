#pragma once

#include "common/Cancellation.h"
#include "progress/ProgressCounter.h"

#include <wx/event.h>
#include <wx/string.h>

#include <cstdint>
#include <mutex>
#include <optional>

// Kinds of status text: information, or an error that asks for attention.
enum MessageKind : int {
    MESSAGE_INFO = 1,
    MESSAGE_ERROR = 2,
};

// A byte count as the player reads it: bytes, kB or MB, translated.
wxString SizeText(std::int64_t bytes);
// A time left in seconds as the player reads it, rounded up to the minute, translated.
wxString TimeText(int seconds);

// The units of a gauge event (wxEVT_PROGRESS_UPDATED, wxEVT_PROGRESS_RANGE_UPDATED)
// before scaling: for a front end that shows sizes.
std::int64_t ProgressUnits(const wxThreadEvent& event);

// The one channel from the worker threads to the main window: gauge, status
// text and the launcher's events, posted to a target. Safe to call from any thread.
//
// The status template comes already translated and may hold ${bytesDone},
// ${bytesLeft}, ${byteRate} (which starts a new line) and ${timeLeft}; they are
// filled in from the counter, in the catalog's words, each time the text is posted.
class ProgressNotifier {
public:
    // target receives the events and must outlive the notifier; clock is read
    // to measure rates and to space the gauge's moves; only tests pass another.
    explicit ProgressNotifier(wxEvtHandler* target, MillisecondClock clock = PreciseClockMilliseconds);
    ~ProgressNotifier();
    ProgressNotifier(const ProgressNotifier&) = delete;
    ProgressNotifier& operator=(const ProgressNotifier&) = delete;

    // Starts a new operation of range units of which done are already done
    // (what an earlier attempt kept). The gauge's events carry ints: a range
    // beyond them is posted scaled down, and the units themselves travel as
    // the events' payload (ProgressUnits).
    void SetRange(std::int64_t range, std::int64_t done = 0);
    // Adds units to the current operation's range, keeping what is done.
    void ExtendRange(std::int64_t units);
    // Moves the gauge and the status text once the advance is worth showing,
    // at most about ten times a second but always at the end of the range:
    // every event wakes the window's thread, which the workers need.
    void AddProgress(int units);
    // Fills the gauge; an operation too short to be measured shows as 100 of 100.
    void Complete();
    // Posts the text unless it is the current template; an unchanged template
    // keeps its kind.
    void SetStatus(const wxString& statusTemplate, int kind = MESSAGE_INFO);
    void SetErrorStatus(const wxString& statusTemplate);
    // While paused the status line says so in place of the template, which
    // comes back on resume.
    void SetPaused(bool paused);
    void Pulse();

    void PostStartUpdate();
    void PostUpdateStarted();
    void PostUpdateStopped();
    void PostUpdateFinished();
    void PostNoChangesFound();
    void PostDisablePlay();
    void PostSelfUpdateDone(int code);

    void SetStopRequested(bool requested);
    bool IsStopRequested() const;
    // The stop as the workers' transfers watch it.
    const Cancellation& GetCancellation() const { return stop; }

private:
    // Sets the counter's range and the gauge's steps for it; called with the lock held.
    void ScaleTo(std::int64_t range);
    // Expands the current template and posts it; called with the lock held.
    void PostStatus() const;
    void Post(wxEventType type, int value = 0, const wxString& text = wxString()) const;
    // Posts a gauge event for units, scaled to the gauge; called with the lock held.
    void PostGauge(wxEventType type, std::int64_t units) const;

    wxEvtHandler* target;
    // Guards every member below but the stop flag. Events are posted with it
    // held, so the window gets them in the order the state changed: a worker's
    // progress never lands after the GUI thread's Complete. Posting and
    // logging never call back into the notifier.
    mutable std::mutex mutex;
    std::int64_t lastPosted = 0;
    MillisecondClock clock;
    std::optional<std::int64_t> lastPostTime; // none: the next advance posts at once
    std::int64_t granularity = 0;
    std::int64_t gaugeScale = 1; // units per gauge step
    wxString statusTemplate;
    int messageKind = MESSAGE_INFO;
    bool paused = false;
    ProgressCounter counter;
    Cancellation stop;
};
