#pragma once

#include <wx/string.h>

// A fresh directory under the system's temporary directory, removed with its
// contents when the object goes out of scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const wxString& Path() const { return path; }
    // Full path of a name inside the directory ("a/b.txt" style, forward slashes).
    wxString File(const wxString& name) const;
    // Writes text (UTF-8) to a file inside the directory, creating parent directories.
    void Write(const wxString& name, const std::string& bytes) const;
    std::string Read(const wxString& name) const;

private:
    wxString path;
};
