#include "platform/AtomicFile.h"

#include <wx/file.h>
#include <wx/filefn.h>
#include <wx/log.h>

namespace {

bool WriteAndFlush(const wxString& path, const std::string& bytes)
{
    wxFile file;
    if (!file.Create(path, true, wxS_DEFAULT))
        return false;
    bool written = file.Write(bytes.data(), bytes.size()) == bytes.size();
    // Flush reaches the disk, so the rename below never publishes unwritten data.
    bool flushed = written && file.Flush();
    return file.Close() && flushed;
}

} // namespace

bool platform::WriteFileAtomically(const wxString& path, const std::string& bytes)
{
    const wxString temporary = path + ".tmp";
    if (!WriteAndFlush(temporary, bytes)) {
        wxLogError("Could not write %s.", temporary);
        wxRemoveFile(temporary);
        return false;
    }
    if (!wxRenameFile(temporary, path, true)) {
        wxLogError("Could not replace %s with %s.", path, temporary);
        wxRemoveFile(temporary);
        return false;
    }
    return true;
}
