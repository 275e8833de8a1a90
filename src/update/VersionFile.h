#pragma once

#include <wx/string.h>

// "version.inf" in the installation: the version of the installed release on
// its first line, or "invalid" while no trustworthy release is installed (no
// readable file, or an update that began and did not complete).
class VersionFile {
public:
    static inline const wxString INVALID = "invalid";

    // Reads the file of the installation in baseDir at once.
    explicit VersionFile(const wxString& baseDir);

    void ReadLocalVersion();
    // Takes version as the installed one and writes it, whole or not at
    // all; false when the file could not be written.
    bool WriteLocalVersion(const wxString& version);
    const wxString& GetLocalVersion() const { return localVersion; }
    bool IsLocalVersionValid() const { return localVersion != INVALID; }

private:
    const wxString path;
    wxString localVersion;
};
