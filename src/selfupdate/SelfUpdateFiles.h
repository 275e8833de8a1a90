#pragma once

#include <wx/string.h>

#include <string>

// Where the update server keeps the current launcher and where a downloaded
// launcher waits for the next start. The names are the ones that publishers'
// servers and existing installations use.

// The server's text file whose first line is the current launcher version.
wxString LauncherVersionUrl(const wxString& baseUrl);
// The launcher build for a language and version on the server.
wxString LauncherBuildUrl(const wxString& baseUrl, const wxString& languageCode, const wxString& version);
// What the publisher signs for a launcher build, followed by the build's
// bytes: its version too, so that an old build cannot pass for a newer one.
std::string LauncherSignedPrefix(const wxString& version);
// The name whose signature file (SignatureFilePath) holds the signature of a
// build at buildUrl together with its version.
wxString LauncherVersionSignedName(const wxString& buildUrl);
// The downloaded launcher: beside the running one, whatever the current
// directory, so that the download, the hand-over and the start agree.
wxString SelfUpdateFilePath(const wxString& exeDir);

// Starts the downloaded launcher without waiting for it; its process id, or 0
// when it could not start. With afterThisEnds it is told (--relaunch) to give
// this process a few seconds to end first.
long RunSelfUpdate(const wxString& exeDir, bool afterThisEnds = false);
