#include "update/VersionFile.h"

#include "platform/AtomicFile.h"

#include <wx/ffile.h>
#include <wx/filename.h>
#include <wx/log.h>

namespace {

wxString FirstLine(const wxString& text)
{
    const size_t end = text.find_first_of("\r\n");
    return end == wxString::npos ? text : text.substr(0, end);
}

} // namespace

VersionFile::VersionFile(const wxString& baseDir) : path(wxFileName(baseDir, "version.inf").GetFullPath())
{
    ReadLocalVersion();
}

void VersionFile::ReadLocalVersion()
{
    wxFFile file;
    wxString text;
    bool read = false;
    {
        wxLogNull quiet; // the error below says it
        read = wxFileName::FileExists(path) && file.Open(path, "rb") && file.ReadAll(&text, wxConvAuto());
    }
    if (!read) {
        wxLogError("Error reading local version file.");
        localVersion = INVALID;
        return;
    }
    localVersion = FirstLine(text);
    wxLogMessage("Local version is: %s", localVersion);
}

// Written whole or not at all: a crash must not leave a half version behind.
bool VersionFile::WriteLocalVersion(const wxString& version)
{
    localVersion = version;
    if (wxFileName::FileExists(path) && !wxFileName::IsFileWritable(path)) {
        wxLogError("Error writing local version.");
        return false;
    }
    if (!platform::WriteFileAtomically(path, localVersion.utf8_string()))
        return false;
    wxLogMessage("Wrote local version: %s", localVersion);
    return true;
}
