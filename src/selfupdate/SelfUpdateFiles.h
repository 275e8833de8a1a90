#pragma once

#include <wx/string.h>

// Where the update server keeps the current launcher and where a downloaded
// launcher waits for the next start. The names are the ones that publishers'
// servers and existing installations use.

// The server's text file whose first line is the current launcher version.
wxString LauncherVersionUrl(const wxString& baseUrl);
// The launcher build for a language and version on the server.
wxString LauncherBuildUrl(const wxString& baseUrl, const wxString& languageCode, const wxString& version);
// The downloaded launcher: beside the running one, whatever the current
// directory, so that the download, the hand-over and the start agree.
wxString SelfUpdateFilePath(const wxString& exeDir);

// Starts the downloaded launcher without waiting for it; its process id, or 0
// when it could not start. With afterThisEnds it is told (--relaunch) to give
// this process a few seconds to end first.
long RunSelfUpdate(const wxString& exeDir, bool afterThisEnds = false);
