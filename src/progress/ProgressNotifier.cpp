#include "progress/ProgressNotifier.h"

#include "progress/LauncherEvents.h"

#include <wx/intl.h>
#include <wx/log.h>

#include <algorithm>
#include <limits>

namespace {

// The window shows at most about ten changes a second; posting more only keeps its thread busy.
constexpr std::int64_t POST_INTERVAL_MS = 100;

// _() returns a reference into the shared catalog, and formatting caches a
// narrow conversion inside the string it reads: format from a private copy.
wxString FormatTranslated(const wxString& translated, auto... values)
{
    const wxString format(translated);
    return wxString::Format(format, values...);
}

wxString RateText(int rate)
{
    if (rate == ProgressCounter::UNKNOWN)
        return wxString(_("undefined rate"));
    return SizeText(rate) + wxString(_("/s"));
}

wxString TimeLeftText(int seconds)
{
    if (seconds == ProgressCounter::UNKNOWN)
        return wxString(_("unknown time"));
    return TimeText(seconds);
}

} // namespace

wxString SizeText(std::int64_t bytes)
{
    // Decimal thresholds with binary units: 1000 bytes already reads as 0.98 kB.
    if (bytes < 1000)
        return FormatTranslated(_("%d bytes"), static_cast<int>(bytes));
    if (bytes < 1000000)
        return FormatTranslated(_("%.2f kB"), bytes / 1024.0);
    return FormatTranslated(_("%.2f MB"), bytes / 1048576.0);
}

wxString TimeText(int seconds)
{
    // Rounded up: the player must not be told less than the truth.
    const int wholeMinutes = seconds / 60 + (seconds % 60 > 0 ? 1 : 0);
    const int hours = wholeMinutes / 60;
    const int minutes = wholeMinutes % 60;
    if (hours >= 10)
        return FormatTranslated(_("%02d hours"), hours);
    if (hours >= 2)
        return FormatTranslated(_("%d hours %02d minutes"), hours, minutes);
    if (hours == 1)
        return FormatTranslated(_("%d hour %02d minutes"), hours, minutes);
    if (minutes >= 10)
        return FormatTranslated(_("%02d minutes"), minutes);
    if (minutes >= 2)
        return FormatTranslated(_("%d minutes"), minutes);
    return wxString(_("less than one minute"));
}

ProgressNotifier::ProgressNotifier(wxEvtHandler* target, MillisecondClock clock)
    : target(target), clock(clock), counter(clock)
{
}

ProgressNotifier::~ProgressNotifier() = default;

std::int64_t ProgressUnits(const wxThreadEvent& event)
{
    return event.GetPayload<std::int64_t>();
}

void ProgressNotifier::SetRange(std::int64_t range, std::int64_t done)
{
    wxLogVerbose("Progress range set to %lld", static_cast<long long>(range));
    std::lock_guard lock(mutex);
    counter.Reset(std::clamp<std::int64_t>(done, 0, std::max<std::int64_t>(range, 0)));
    ScaleTo(range);
    lastPosted = counter.Position();
    lastPostTime.reset();
    PostGauge(wxEVT_PROGRESS_UPDATED, counter.Position());
    PostGauge(wxEVT_PROGRESS_RANGE_UPDATED, range);
    wxLogVerbose("Progress range changed: range = %lld, granularity = %lld", static_cast<long long>(range),
                 static_cast<long long>(granularity));
}

void ProgressNotifier::ExtendRange(std::int64_t units)
{
    std::lock_guard lock(mutex);
    const std::int64_t range = counter.Range() + units;
    ScaleTo(range);
    PostGauge(wxEVT_PROGRESS_UPDATED, counter.Position());
    PostGauge(wxEVT_PROGRESS_RANGE_UPDATED, range);
}

void ProgressNotifier::ScaleTo(std::int64_t range)
{
    counter.SetRange(range);
    granularity = range / 1000;
    gaugeScale = 1 + std::max<std::int64_t>(range, 0) / std::numeric_limits<int>::max();
}

void ProgressNotifier::AddProgress(int units)
{
    std::lock_guard lock(mutex);
    std::int64_t position = counter.Position() + units;
    // The gauge must not pass its end: a report may follow Complete from the
    // other thread, and a source may run longer than announced.
    if (counter.Range() > 0)
        position = std::min(position, counter.Range());
    counter.Update(position, counter.Elapsed());
    if (counter.Position() <= lastPosted + granularity)
        return;
    const std::int64_t now = clock();
    if (lastPostTime && now - *lastPostTime < POST_INTERVAL_MS && counter.Position() != counter.Range())
        return;
    lastPostTime = now;
    lastPosted = counter.Position();
    PostGauge(wxEVT_PROGRESS_UPDATED, counter.Position());
    PostStatus();
}

void ProgressNotifier::Complete()
{
    std::lock_guard lock(mutex);
    if (!counter.HasSamples()) {
        counter.Reset();
        counter.SetRange(100);
        gaugeScale = 1;
        PostGauge(wxEVT_PROGRESS_RANGE_UPDATED, 100);
    }
    counter.Update(counter.Range(), counter.Elapsed());
    PostGauge(wxEVT_PROGRESS_UPDATED, counter.Position());
}

void ProgressNotifier::SetStatus(const wxString& newTemplate, int kind)
{
    std::lock_guard lock(mutex);
    if (newTemplate == statusTemplate)
        return;
    statusTemplate = newTemplate;
    messageKind = kind;
    PostStatus();
}

void ProgressNotifier::SetErrorStatus(const wxString& newTemplate)
{
    SetStatus(newTemplate, MESSAGE_ERROR);
}

void ProgressNotifier::SetPaused(bool pause)
{
    std::lock_guard lock(mutex);
    if (pause == paused)
        return;
    paused = pause;
    PostStatus();
}

void ProgressNotifier::Pulse()
{
    Post(wxEVT_PROGRESS_PULSE);
}

void ProgressNotifier::PostStartUpdate()
{
    Post(wxEVT_START_UPDATE);
}

void ProgressNotifier::PostUpdateStarted()
{
    Post(wxEVT_UPDATE_STARTED);
}

void ProgressNotifier::PostUpdateStopped()
{
    Post(wxEVT_UPDATE_STOPPED);
}

void ProgressNotifier::PostUpdateFinished()
{
    Post(wxEVT_UPDATE_FINISHED);
}

void ProgressNotifier::PostNoChangesFound()
{
    Post(wxEVT_NO_CHANGES_FOUND);
}

void ProgressNotifier::PostDisablePlay()
{
    Post(wxEVT_DISABLE_PLAY);
}

void ProgressNotifier::PostSelfUpdateDone(int code)
{
    Post(wxEVT_SELF_UPDATE_DONE, code);
}

void ProgressNotifier::SetStopRequested(bool requested)
{
    if (requested)
        stop.Request();
    else
        stop.Clear();
}

bool ProgressNotifier::IsStopRequested() const
{
    return stop.IsRequested();
}

void ProgressNotifier::PostStatus() const
{
    if (paused) {
        Post(wxEVT_STATUS_MESSAGE, MESSAGE_INFO, wxString(_("Paused")));
        return;
    }
    wxString text = statusTemplate;
    text.Replace("${bytesDone}", SizeText(counter.Position()));
    // An operation of unknown length (range 0) has nothing left to show.
    text.Replace("${bytesLeft}", SizeText(std::max<std::int64_t>(counter.Range() - counter.Position(), 0)));
    text.Replace("${byteRate}", "\n" + RateText(counter.Rate()));
    text.Replace("${timeLeft}", TimeLeftText(counter.TimeLeft()));
    Post(wxEVT_STATUS_MESSAGE, messageKind, text);
}

void ProgressNotifier::PostGauge(wxEventType type, std::int64_t units) const
{
    wxThreadEvent event(type, wxID_ANY);
    event.SetInt(static_cast<int>(units / gaugeScale));
    event.SetPayload(units);
    target->AddPendingEvent(event);
}

void ProgressNotifier::Post(wxEventType type, int value, const wxString& text) const
{
    wxThreadEvent event(type, wxID_ANY);
    event.SetInt(value);
    event.SetString(text);
    target->AddPendingEvent(event);
}
