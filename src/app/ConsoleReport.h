#pragma once

#include "progress/ProgressCounter.h"

#include <wx/string.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>

// What a command shows of an update while it runs: each status text as a
// line, errors on the error stream, and the gauge as a progress line with the
// percentage and, for a download, the sizes, the rate and the time left. On a
// terminal the progress line is redrawn in place at most five times a second;
// into a file or a pipe a download's progress is written as a plain line at a
// new tenth, at most once a second, so that the output holds no control
// characters.
class ConsoleReport {
public:
    ConsoleReport();

    // A status text of the update, of MessageKind kind.
    void Status(const wxString& text, int kind);
    // The command's own lines, on the standard output or the error stream.
    void Message(const wxString& text);
    void Error(const wxString& text);

    // A new operation of range units on the gauge, and its position.
    void SetRange(std::int64_t range);
    void SetPosition(std::int64_t position);
    // From now on the gauge counts downloaded bytes.
    void CountBytes() { countsBytes = true; }
    // Draws the progress line if a move is still waiting for its turn.
    void Flush();

private:
    void PrintLine(FILE* stream, const wxString& text);
    void PrintTenth(std::int64_t position);
    void Draw();
    void Erase();
    wxString ProgressText() const;

    const bool terminal;
    bool countsBytes = false;
    ProgressCounter counter;
    // The notifier posts its status text again after each move of the gauge
    // within an operation, with the figures that the progress line shows.
    bool refreshExpected = false;
    wxString lastStatus;
    std::size_t drawnWidth = 0; // characters of the progress line on screen; 0 when none
    bool drawPending = false;
    std::chrono::steady_clock::time_point lastDraw; // of the progress line, or of its last plain line
    int tenthsPrinted = 0;
};
