#pragma once

#include "update/Manifest.h"
#include "update/ManifestParser.h"

#include <string>

class ProgressNotifier;

// The manifest of the installed files, kept between runs in a file inside the
// installation's base directory.
class LocalManifest : public Manifest {
public:
    // directory gets a trailing path separator if it lacks one.
    LocalManifest(const wxString& directory, const wxString& fileName);

    // Appends the records of the manifest file at path to the list.
    bool Load(const wxString& path) override;
    // Appends the records of a manifest file's bytes to the list.
    bool Read(wxInputStream& xml);
    // Replaces the file at path with all records. Always true: a failed write is
    // logged and leaves the previous file as it was.
    bool Save(const wxString& path) override;
    bool LoadDefault();
    bool SaveDefault();
    wxString GetDirectory() const { return directory; }

    // Appends a fresh record for every file under the directory, hidden ones and
    // those in subdirectories included. Always true.
    bool Scan();
    // Brings every record up to date with its file, hashing only those whose
    // size or time differ or that have no checksum. True when one was hashed
    // and the pass was not stopped through the notifier (which may be null).
    bool CheckLocalChanges(ProgressNotifier* notifier);
    // Where the file of a record name lies: inside the directory unless the
    // name climbs out of it with "..".
    wxString FullPath(const wxString& name) const;

private:
    wxString DefaultPath() const;
    bool AppendRecord(const ManifestParser::Child& element);
    std::string Format() const;
    bool Refresh(ManifestFileInfo& record) const;

    wxString directory; // native form, ends with the path separator
    wxString fileName;
};
