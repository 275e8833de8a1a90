#pragma once

#include <wx/log.h>

#include <string>
#include <vector>

// Collects the toolkit's log lines while it lives, so tests can check the exact
// texts the launcher logs. Restores the previous target and level afterwards.
class LogCapture : public wxLog {
public:
    struct Line {
        wxLogLevel level;
        std::string text;
    };

    LogCapture();
    ~LogCapture() override;

    // These first take in the lines that other threads have logged meanwhile.
    const std::vector<Line>& Lines() const;
    // True when some line of that level has exactly that text.
    bool Has(wxLogLevel level, const std::string& text) const;
    bool HasText(const std::string& text) const;

protected:
    void DoLogRecord(wxLogLevel level, const wxString& msg, const wxLogRecordInfo& info) override;

private:
    std::vector<Line> lines;
    wxLog* previous;
    wxLogLevel previousLevel;
    bool previousVerbose;
};
