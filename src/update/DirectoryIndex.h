#pragma once

#include <wx/string.h>

#include <map>
#include <string>
#include <unordered_set>

class LocalManifest;

// Tells whether the files of an installation exist, reading each of its
// directories once rather than asking the system about every file: a quick
// start looks for thousands of them.
class DirectoryIndex {
public:
    // Names are looked up as manifest names relative to the manifest's directory.
    explicit DirectoryIndex(const LocalManifest& manifest) : manifest(manifest) {}

    // True when the record name's file is a regular file (or a link to one).
    bool Exists(const wxString& name);

private:
    const LocalManifest& manifest;
    std::map<wxString, std::unordered_set<std::string>> listings; // by directory path
};
