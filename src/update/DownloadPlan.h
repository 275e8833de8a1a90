#pragma once

#include "download/ParallelDownload.h"
#include "update/Manifest.h"

#include <wx/string.h>

#include <cstdint>
#include <vector>

class InstalledFiles;

// How the files of a release are fetched: each archive read once, from its
// start towards its end, in runs of records that follow each other closely
// enough that reading the gap between them costs less than a new request.

// The largest forward gap between two wanted files of one archive that is
// read through rather than asked for anew.
inline constexpr std::uint32_t GAP_THRESHOLD = 0x3000;

// Orders records by archive (UTF-16 order of the names), then offset; stable.
void SortForDownload(FileList& list);

// The archive's address on the update server at baseUrl. Archive names come
// with backslashes between folders, like file names; a web server wants slashes.
wxString ArchiveUrl(const wxString& baseUrl, const wxString& archive);

// True when record's data is read from the same request as previous's:
// same archive, and a forward gap up to GAP_THRESHOLD after it.
bool ContinuesRun(const ManifestFileInfo& previous, const ManifestFileInfo& record);

// A file whose first bytes are at hand from an earlier try: its run starts
// behind them.
struct ResumePoint {
    const ManifestFileInfo* record = nullptr;
    std::uint32_t kept = 0;
};

// True when record's data needs a run of its own after previous's (null for
// the first record).
bool StartsRun(const ManifestFileInfo* previous, const ManifestFileInfo& record, const ResumePoint& resume);

// The byte runs that the download asks for, one per run of records of a
// sorted list, each from its first record's data to its last one's.
std::vector<ParallelDownload::Run> PlanRuns(const FileList& list, const wxString& baseUrl,
                                            const ResumePoint& resume = {});

// The archive bytes that the list's records take from the server.
std::int64_t DownloadSize(const FileList& list);

// The most that installing the list adds to the disk at any one time: each
// file is written beside the one it replaces, which is freed once the new
// one is in place. A record without a size counts its archive bytes.
std::uint64_t SpaceNeeded(const FileList& list, const InstalledFiles& installed);
