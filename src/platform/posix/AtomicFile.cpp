#include "platform/AtomicFile.h"

#include "platform/OwnFile.h"

#include <wx/file.h>
#include <wx/filefn.h>
#include <wx/log.h>

namespace {

bool WriteAndFlush(const wxString& path, const std::string& bytes)
{
    const int fd = platform::CreateFreshFile(path, wxS_DEFAULT);
    if (fd < 0)
        return false;
    wxFile file(fd);
    bool written = file.Write(bytes.data(), bytes.size()) == bytes.size();
    // Flush reaches the disk, so the rename below never publishes unwritten data.
    bool flushed = written && file.Flush();
    return file.Close() && flushed;
}

} // namespace

bool platform::WriteFileAtomically(const wxString& path, const std::string& bytes)
{
    const wxString temporary = TemporaryPath(path);
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
