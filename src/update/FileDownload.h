#pragma once

#include "download/ParallelDownload.h"
#include "update/DownloadPlan.h"
#include "update/InstallWriter.h"
#include "update/Manifest.h"
#include "update/ResumeFile.h"

#include <wx/string.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class InstalledFiles;
struct UpdateContext;
class wxInputStream;

// Result of the last download step (FileDownload::GetLastError).
enum DownloadError : int {
    ERROR_NONE = 0,
    ERROR_MALFORMED_URL = 5,
    ERROR_DOWNLOAD = 6, // network, stream or checksum: worth retrying
    ERROR_WRITE = 7,
    ERROR_REFUSED = 8, // the server answers that a file of the release is not there
};

// Fetches files out of the update server's archives in the runs that the
// download plan gives, over a few connections at once, and installs each in
// list order: inflated when it is compressed, verified by its digest before
// it takes its place, and recorded in the installed files' manifest.
class FileDownload {
public:
    // Both must outlive the download.
    FileDownload(const UpdateContext& context, InstalledFiles& installed);

    // Installs the records of list in order, removing each installed one, so
    // that after a failure the list holds what is left. False at the first
    // failure (GetLastError says which) or on a stop.
    bool DownloadFiles(FileList& list);
    int GetLastError() const { return lastError; }
    // The file whose download was corrupt in the last DownloadFiles, or empty.
    const wxString& CorruptFile() const { return corruptFile; }
    // The request that the server answered with an error status in the last
    // DownloadFiles, if that ended it.
    const std::optional<ParallelDownload::RequestFailure>& RefusedRequest() const { return refusedRequest; }
    // The files installed from patches so far, and the archive bytes that their patches saved.
    int PatchedFiles() const { return patchedFiles; }
    std::uint64_t SavedBytes() const { return savedBytes; }

private:
    // One pass over the list with a writer of its own; false as DownloadFiles.
    bool DownloadPass(FileList& list);
    // Reads the files of the list from the update server, in order, into the
    // writer. False at the first failure of its own (with lastError set), at a
    // failure of the writer's, or on a stop.
    bool ReadFiles(FileList& list, InstallWriter& writer);
    bool NoteRefusal(const ParallelDownload& download);
    bool OpenRun(ParallelDownload& download, const ParallelDownload::Run& run, wxInputStream*& body);
    bool InstallFrom(wxInputStream& body, ManifestFileInfo& record, InstallWriter& writer);
    bool InstallFile(const ManifestFileInfo& record, wxInputStream& input, std::uint64_t limit,
                     InstallWriter& writer);
    // Records the installed files and takes them off the front of the list,
    // where they are in the same order. False at a failed file, with lastError
    // set for the writer's own failures.
    bool RecordOutcomes(FileList& list, const std::vector<InstallWriter::Outcome>& outcomes);
    // After a patch that failed, the record names its whole member again, to be
    // fetched in the next pass of the same download.
    void FallBackToMember(ManifestFileInfo& record, const wxString& reason);

    const UpdateContext& context;
    InstalledFiles& installed;
    int lastError = ERROR_NONE;
    wxString corruptFile;
    std::optional<ParallelDownload::RequestFailure> refusedRequest;
    bool patchFailed = false; // in the current pass
    int patchedFiles = 0;
    std::uint64_t savedBytes = 0;
    ResumeFile resumeFile;
    ResumePoint resume;
    // What the server can do, as its answers so far have shown.
    ParallelDownload::ServerAbilities server;
};
