#pragma once

#include "update/Manifest.h"

#include <wx/stream.h>

class ProgressNotifier;

// The files of the current release and where their data lies on the update
// server, read from a gzip (or zlib) compressed XML manifest. Never written.
class RemoteManifest : public Manifest {
public:
    bool Load(const wxString& url) override;
    // Replaces the records with those of the manifest at url; notifier (may be
    // null) shows the download's progress in compressed bytes, and a stop
    // requested through it ends the download and the reading.
    bool Load(const wxString& url, ProgressNotifier* notifier);
    // Replaces the records with those of a compressed manifest's bytes.
    bool Read(wxInputStream& body, ProgressNotifier* notifier);
    // Refuses with MANIFEST_NOT_SAVED.
    bool Save(const wxString& path) override;
};
