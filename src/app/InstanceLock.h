#pragma once

#include <wx/string.h>

#include <memory>

class wxFileOutputStream;

// Name prefixes of the lock files in the installation's "lock" directory: the
// launcher's own, and the game's (only ever looked for).
inline constexpr char LAUNCHER_LOCK_PREFIX[] = "com.marvex.playforge.dirmirror.Launcher";
inline constexpr char GAME_LOCK_PREFIX[] = "com.marvex.Velorian";

// A lock file this process holds. The stream keeps the file open, and so
// locked, for the object's life; destroying the object closes the file and
// leaves it on disk, where the next check finds it stale and deletes it.
class InstanceLock {
public:
    InstanceLock(const wxString& path, std::unique_ptr<wxFileOutputStream> stream);
    ~InstanceLock();

    const wxString& Path() const { return path; }

private:
    wxString path;
    std::unique_ptr<wxFileOutputStream> stream;
};

// True if a running process holds a lock file "<prefix>*" in dir's lock
// directory. Deletes the stale ones it meets on the way.
bool IsLocked(const wxString& prefix, const wxString& dir);

// Creates and holds "<name>.lck" in dir's lock directory, creating the
// directory if needed; null if the directory cannot be made or another process
// holds that file.
std::unique_ptr<InstanceLock> CreateLock(const wxString& name, const wxString& dir);

// CreateLock with the prefix followed by rand() seeded with the current second,
// so two launchers started in the same second pick the same name and the later
// one gets null.
std::unique_ptr<InstanceLock> CreateRandomLock(const wxString& prefix, const wxString& dir);
