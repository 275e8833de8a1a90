#pragma once

#include "platform/FileStatus.h"

#include <wx/string.h>

#include <cstddef>
#include <string>

namespace platform {

// Replaces a file with content written piece by piece, in one step: the pieces
// go to a temporary file beside it (TemporaryPath), which is renamed over the
// file only by Commit. Until then the file keeps its old content byte for
// byte; whatever is not committed is removed. Nothing is flushed to disk: this
// guards against a process that dies or a write that fails, and the caller
// keeps its own marker for a machine that loses power.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(const wxString& path);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // Creates the temporary file afresh, replacing whatever a killed run (or
    // anyone else) left at its name; false on failure.
    bool Open();
    // Appends all count bytes; false when the system takes fewer (a full disk, a quota).
    bool Write(const void* bytes, std::size_t count);
    // Gives the file the permission bits of mode, closes it, renames it over
    // the path and fills status; false, with the temporary file removed, on failure.
    bool Commit(int mode, FileStatus& status);
    // Closes and removes the temporary file; the path keeps what it held.
    void Discard();

private:
    std::string path;
    wxString temporary;
    int fd = -1;
};

} // namespace platform
