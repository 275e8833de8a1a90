#pragma once

#include <wx/string.h>

#include <sys/types.h>

// Another process holding a lock file the way a running launcher or game does,
// until it is killed like a crashing one.
class LockHolder {
public:
    explicit LockHolder(const wxString& path);
    ~LockHolder() { Kill(); }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

    // Waits until the child has the lock; false if it could not take it.
    bool Locked();
    void Kill();

private:
    pid_t pid = -1;
    int link = -1;
};
