#include "support/LogCapture.h"

#include <algorithm>

LogCapture::LogCapture()
    : previous(wxLog::SetActiveTarget(this)), previousLevel(wxLog::GetLogLevel()),
      previousVerbose(wxLog::GetVerbose())
{
    wxLog::SetLogLevel(wxLOG_Max);
    wxLog::SetVerbose(true);
}

LogCapture::~LogCapture()
{
    wxLog::SetActiveTarget(previous);
    wxLog::SetLogLevel(previousLevel);
    wxLog::SetVerbose(previousVerbose);
}

const std::vector<LogCapture::Line>& LogCapture::Lines() const
{
    wxLog::FlushActive();
    return lines;
}

bool LogCapture::Has(wxLogLevel level, const std::string& text) const
{
    return std::ranges::any_of(Lines(),
                               [&](const Line& line) { return line.level == level && line.text == text; });
}

bool LogCapture::HasText(const std::string& text) const
{
    return std::ranges::any_of(Lines(), [&](const Line& line) { return line.text == text; });
}

void LogCapture::DoLogRecord(wxLogLevel level, const wxString& msg, const wxLogRecordInfo&)
{
    lines.push_back({level, msg.utf8_string()});
}
