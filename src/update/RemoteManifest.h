#pragma once

#include "update/Manifest.h"

#include <cstdint>

class ProgressNotifier;
class wxXmlNode;

// The files of the current release and where their data lies on the update
// server, read from a gzip (or zlib) compressed XML manifest. Never written.
class RemoteManifest : public Manifest {
public:
    // The most XML a manifest may inflate to: a stop for a compressed bomb or
    // an endless body. The parsed document takes some 12 times its size in
    // memory, and up to 40 times for hostile shapes (tiny elements), so this
    // keeps the peak near 0.4 GiB while allowing some 170,000 files.
    static constexpr std::uint64_t MAX_XML_BYTES = 32 * 1024 * 1024;

    bool Load(const wxString& url) override;
    // Replaces the records with those of the manifest at url; notifier (may be
    // null) shows the download's progress in compressed bytes, and a stop
    // requested through it ends the download.
    bool Load(const wxString& url, ProgressNotifier* notifier);
    // Refuses with MANIFEST_NOT_SAVED.
    bool Save(const wxString& path) override;

private:
    void AppendRecords(const wxXmlNode& root);
    ManifestResult AppendRecord(const wxXmlNode& element);
};
