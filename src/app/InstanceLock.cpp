#include "app/InstanceLock.h"

#include "platform/FileLock.h"

#include <wx/dir.h>
#include <wx/file.h>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/wfstream.h>

#include <cstdlib>
#include <ctime>

namespace {

wxString LockDirectory(const wxString& dir)
{
    wxFileName lockDir = wxFileName::DirName(dir);
    lockDir.AppendDir("lock");
    return lockDir.GetPath();
}

// Creates the file exclusively (the caller has just removed any old one), so a
// file another launcher created in the meantime is never truncated, then locks
// it and writes the one-byte mark.
std::unique_ptr<wxFileOutputStream> OpenHeld(const wxString& path)
{
    wxFile file;
    if (!file.Create(path, false, wxS_DEFAULT) || !platform::HoldFile(file.fd(), path))
        return nullptr;
    auto stream = std::make_unique<wxFileOutputStream>(file.Detach());
    if (stream->Write("\n", 1).LastWrite() != 1)
        return nullptr;
    return stream;
}

} // namespace

InstanceLock::InstanceLock(const wxString& path, std::unique_ptr<wxFileOutputStream> stream)
    : path(path), stream(std::move(stream))
{
}

InstanceLock::~InstanceLock() = default;

bool IsLocked(const wxString& prefix, const wxString& dir)
{
    const wxString lockDir = LockDirectory(dir);
    if (!wxDir::Exists(lockDir))
        return false;
    wxArrayString files;
    wxDir::GetAllFiles(lockDir, &files, prefix + "*", wxDIR_FILES);
    for (const wxString& file : files) {
        if (!platform::RemoveUnlessHeld(file)) {
            wxLogVerbose("Lock file %s is held by a running process.", file);
            return true;
        }
        wxLogVerbose("Removed stale lock file %s.", file);
    }
    return false;
}

std::unique_ptr<InstanceLock> CreateLock(const wxString& name, const wxString& dir)
{
    const wxString lockDir = LockDirectory(dir);
    if (!wxFileName::Mkdir(lockDir, 0777, wxPATH_MKDIR_FULL)) {
        wxLogWarning("Could not create the lock directory %s.", lockDir);
        return nullptr;
    }
    const wxString path = wxFileName(lockDir, name + ".lck").GetFullPath();
    if (!platform::RemoveUnlessHeld(path)) {
        wxLogWarning("Lock file %s is held by another process.", path);
        return nullptr;
    }
    std::unique_ptr<wxFileOutputStream> stream = OpenHeld(path);
    if (!stream) {
        wxLogWarning("Could not create the lock file %s.", path);
        return nullptr;
    }
    return std::make_unique<InstanceLock>(path, std::move(stream));
}

std::unique_ptr<InstanceLock> CreateRandomLock(const wxString& prefix, const wxString& dir)
{
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    return CreateLock(wxString::Format("%s%d", prefix, std::rand()), dir);
}
