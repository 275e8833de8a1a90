#pragma once

#include "update/ManifestFileInfo.h"

#include <wx/string.h>

#include <list>
#include <map>

// Outcome of a manifest's last load or save (Manifest::result).
enum ManifestResult : int {
    MANIFEST_OK = 0,
    MANIFEST_UNKNOWN_ELEMENT = 2,
    MANIFEST_MISSING_ATTRIBUTE = 3,
    MANIFEST_BAD_COMPRESSED = 4,
    MANIFEST_BAD_URL = 5,
    MANIFEST_DOWNLOAD_FAILED = 6,
    MANIFEST_OUT_OF_RANGE = 8,
    MANIFEST_NOT_SAVED = 9,
    MANIFEST_NOT_SIGNED = 10, // no signature, or one that does not verify with the release key
    MANIFEST_TLS_FAILED = 11, // no secure connection to the server
};

// The records of one installation or release, in order. A list, so that a
// record keeps its address while it is in it: the name maps and the mismatch
// list hold plain pointers to records.
class Manifest : public std::list<ManifestFileInfo> {
public:
    int result = MANIFEST_OK;

    virtual ~Manifest();

    // Appends the records read from path; true on success.
    virtual bool Load(const wxString& path) = 0;
    // Writes the records to path; true on success.
    virtual bool Save(const wxString& path) = 0;
};

// Record name -> record; the name comparison is exact and case-sensitive.
using ManifestMap = std::map<wxString, ManifestFileInfo*>;
// Records to download, in download order; the records belong to a manifest.
using FileList = std::list<ManifestFileInfo*>;
