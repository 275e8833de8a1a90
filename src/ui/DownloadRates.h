#pragma once

#include <wx/string.h>

#include <vector>

// The download limits the window offers, in KiB/s, 0 (no limit) first, the
// configured one among them in its place even when it is none of the usual.
std::vector<int> DownloadRateChoices(int configured);

// A limit as the player reads it: "No limit", "512 KB/s", "2 MB/s".
wxString DownloadRateText(int kibPerSecond);
