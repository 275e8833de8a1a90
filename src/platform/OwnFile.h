#pragma once

#include <wx/string.h>

// Opening files of the installation so that a symbolic link, a FIFO or a
// device planted at their names is never followed, waited on or written to.
namespace platform {

// The name that stands in for path while it is written: path with "\part"
// appended. Manifest names separate their components with backslashes, so no
// file of a release, nor any other name the installation uses, holds one.
wxString TemporaryPath(const wxString& path);

// Creates the file at path anew with the permission bits of mode (less the
// umask), open for writing: whatever was there is removed first (a link
// itself, never what it names), and the file is then made exclusively. An open
// descriptor, or -1.
int CreateFreshFile(const wxString& path, int mode);

enum class FileAccess {
    Read,
    ReadWrite,
    Append, // writing at the end, creating the file when there is none
};
// Opens path when it is itself a regular file, not a link to one; an open
// descriptor, or -1.
int OpenRegularFile(const wxString& path, FileAccess access);

// True when path, with every link in its directories resolved, lies inside
// directory (resolved likewise).
bool IsInsideDirectory(const wxString& path, const wxString& directory);

} // namespace platform
