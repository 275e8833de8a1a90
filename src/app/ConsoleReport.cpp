#include "app/ConsoleReport.h"

#include "platform/Terminal.h"
#include "progress/ProgressNotifier.h"

#include <wx/intl.h>

#include <algorithm>
#include <cstdint>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

// Five redraws a second: the line moves without flickering.
constexpr auto REDRAW_INTERVAL = std::chrono::milliseconds(200);
// Plain lines pile up: a short download gets few of them.
constexpr auto PLAIN_LINE_INTERVAL = std::chrono::seconds(1);
constexpr int BAR_WIDTH = 20;

void Write(FILE* stream, const wxString& text)
{
    const wxScopedCharBuffer bytes = text.utf8_str();
    std::fwrite(bytes.data(), 1, bytes.length(), stream);
}

int Share(std::int64_t part, std::int64_t whole, int scale)
{
    return static_cast<int>(part * scale / whole);
}

} // namespace

ConsoleReport::ConsoleReport() : terminal(platform::IsOutputTerminal()) {}

void ConsoleReport::Status(const wxString& text, int kind)
{
    if (std::exchange(refreshExpected, false))
        return;
    // The window shows the rate on a second line; a terminal line stays whole.
    wxString line(text);
    line.Replace(" \n", "\n");
    line.Replace("\n", " ");
    if (line == lastStatus)
        return;
    lastStatus = line;
    PrintLine(kind == MESSAGE_ERROR ? stderr : stdout, line);
}

void ConsoleReport::Message(const wxString& text)
{
    PrintLine(stdout, text);
}

void ConsoleReport::Error(const wxString& text)
{
    PrintLine(stderr, text);
}

void ConsoleReport::SetRange(std::int64_t range)
{
    refreshExpected = false;
    counter.Reset();
    counter.SetRange(range);
    tenthsPrinted = 0;
}

void ConsoleReport::SetPosition(std::int64_t position)
{
    counter.Update(position, counter.Elapsed());
    refreshExpected = position < counter.Range();
    if (position <= 0 || counter.Range() <= 0)
        return;
    if (!terminal) {
        PrintTenth(position);
        return;
    }
    drawPending = true;
    if (position >= counter.Range() || Clock::now() - lastDraw >= REDRAW_INTERVAL)
        Draw();
}

void ConsoleReport::Flush()
{
    if (drawPending)
        Draw();
}

// Only a download is worth lines of its own; the end shows in the next status.
void ConsoleReport::PrintTenth(std::int64_t position)
{
    const int tenths = Share(position, counter.Range(), 10);
    if (!countsBytes || position >= counter.Range() || tenths <= tenthsPrinted ||
        Clock::now() - lastDraw < PLAIN_LINE_INTERVAL)
        return;
    tenthsPrinted = tenths;
    lastDraw = Clock::now();
    PrintLine(stdout, ProgressText());
}

void ConsoleReport::PrintLine(FILE* stream, const wxString& text)
{
    Erase();
    // Both streams often share one terminal: what came first must show first.
    std::fflush(stdout);
    Write(stream, text + "\n");
    std::fflush(stream);
    // The progress line comes back with the gauge's next move.
    drawPending = false;
}

void ConsoleReport::Draw()
{
    wxString line = ProgressText();
    // A line wider than the terminal would wrap, and the carriage return
    // would then redraw only its last row.
    const int columns = platform::OutputTerminalColumns();
    if (columns > 0 && line.length() >= static_cast<std::size_t>(columns))
        line.Truncate(columns - 1);
    const std::size_t width = line.length();
    if (width < drawnWidth)
        line.append(drawnWidth - width, ' ');
    Write(stdout, "\r" + line);
    std::fflush(stdout);
    drawnWidth = width;
    drawPending = false;
    lastDraw = Clock::now();
}

void ConsoleReport::Erase()
{
    if (drawnWidth == 0)
        return;
    Write(stdout, "\r" + wxString(' ', drawnWidth) + "\r");
    drawnWidth = 0;
}

wxString ConsoleReport::ProgressText() const
{
    const std::int64_t range = counter.Range();
    const std::int64_t position = std::clamp<std::int64_t>(counter.Position(), 0, range);
    const int filled = Share(position, range, BAR_WIDTH);
    wxString text = "[" + wxString('#', filled) + wxString('-', BAR_WIDTH - filled) + "]";
    text += wxString::Format(" %3d%%", Share(position, range, 100));
    if (!countsBytes)
        return text;
    text += "  " + SizeText(position) + " / " + SizeText(range);
    // Until the first measurement the counter holds the previous operation's figures.
    if (!counter.HasSamples())
        return text;
    if (counter.Rate() != ProgressCounter::UNKNOWN)
        text += "  " + SizeText(counter.Rate()) + wxString(_("/s"));
    if (counter.TimeLeft() != ProgressCounter::UNKNOWN)
        text += "  " + wxString::Format(wxString(_("%s left")), TimeText(counter.TimeLeft()));
    return text;
}
