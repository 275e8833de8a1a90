#pragma once

#include <wx/string.h>

// Plain HTTP access to the update server and the telemetry service.
class HTTPWrapper {
public:
    // True when url parses with a host part and its scheme is exactly "http".
    static bool IsHttpUrl(const wxString& url);
};
