#pragma once

#include "common/AskUser.h"
#include "common/SignatureVerifier.h"

#include <wx/defs.h>
#include <wx/string.h>

#include <optional>

// Decides at start-up what becomes of a launcher that an earlier run
// downloaded beside this one: started, when it is still the update server's
// current launcher, or removed, when it is stale or cut short.
class SelfUpdateHandOver {
public:
    // With releaseKey, the downloaded launcher is started only when the server
    // names a newer launcher than this one and the signature kept beside it
    // verifies for that version.
    SelfUpdateHandOver(const wxString& exeDir, const wxString& currentVersion, const wxString& baseUrl,
                       const wxString& languageCode, std::optional<SignatureVerifier> releaseKey,
                       AskUser askUser);

    // True when the downloaded launcher was started and this process is to end.
    bool HandleLocalLauncherUpdate() const;
    // The server's current launcher version without surrounding white space;
    // empty when it cannot be read or is no version. One attempt.
    wxString FetchRemoteLauncherVersion() const;
    // The size the server announces for that version's launcher, or -1.
    wxInt64 GetRemoteLauncherSize(const wxString& version) const;
    // Deletes the downloaded launcher, trying for about ten seconds.
    void RemoveSelfUpdateFile() const;

private:
    bool RunIfSameSize(const wxString& remoteVersion) const;
    bool IsSignedByPublisher(const wxString& version) const;

    wxString exeDir;
    wxString selfUpdateFile;
    wxString currentVersion;
    wxString baseUrl;
    wxString languageCode;
    std::optional<SignatureVerifier> releaseKey;
    AskUser askUser;
};
