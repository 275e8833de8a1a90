#pragma once

#include <wx/string.h>

// Whole-file advisory locks that other processes, and the flock tool, respect.
// A lock belongs to the open file rather than the process: it lasts until that
// file is closed, and a second open of the same file conflicts with it even in
// the same process.
namespace platform {

// Locks fd, opened from path, exclusively without waiting; false if another open file holds it or path no
// longer names fd.
bool HoldFile(int fd, const wxString& path);

// Deletes the file at path unless a live process holds it locked; true when it is deleted or already gone,
// or is no regular file (a link, a FIFO, a directory), which holds no lock and is left alone.
bool RemoveUnlessHeld(const wxString& path);

} // namespace platform
