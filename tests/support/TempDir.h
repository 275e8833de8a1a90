#pragma once

#include <wx/string.h>

#include <string>

// The bytes of the file at path; empty when it cannot be read.
std::string ReadFileBytes(const wxString& path);
// Writes bytes to the file at path, creating parent directories.
void WriteFileBytes(const wxString& path, const std::string& bytes);

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
    wxString File(const wxString& name) const { return path + "/" + name; }
    void Write(const wxString& name, const std::string& bytes) const { WriteFileBytes(File(name), bytes); }
    std::string Read(const wxString& name) const { return ReadFileBytes(File(name)); }

private:
    wxString path;
};
