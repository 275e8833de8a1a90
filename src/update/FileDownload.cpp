#include "update/FileDownload.h"

#include "download/HTTPWrapper.h"
#include "download/LimitedInputStream.h"
#include "download/ParallelDownload.h"
#include "download/ProgressInputStream.h"
#include "download/WasteOutputStream.h"
#include "progress/ProgressNotifier.h"
#include "update/DownloadPlan.h"
#include "update/InstalledFiles.h"
#include "update/PatchInputStream.h"
#include "update/UpdateContext.h"

#include <wx/intl.h>
#include <wx/log.h>
#include <wx/zstream.h>

#include <algorithm>

namespace {

// Deflate cannot inflate a byte to more than this many: the bound for a
// member whose record does not give its size.
constexpr std::uint64_t MAX_INFLATION_RATIO = 1032;
constexpr std::size_t FIRST_READ_SIZE = 16 * 1024;

std::uint64_t InflatedSizeLimit(const ManifestFileInfo& record)
{
    if (record.size != 0)
        return record.size;
    return MAX_INFLATION_RATIO * record.compressed_size;
}

// Copies the input into the writer's blocks, each filled before it is queued,
// until the input ends, more than limit bytes have come or the writer has
// failed; returns the bytes read. Reads start small and grow: each read clears
// the room it asks for first, and most files are small.
std::uint64_t PassInput(wxInputStream& input, std::uint64_t limit, InstallWriter& writer)
{
    std::uint64_t passed = 0;
    std::size_t request = FIRST_READ_SIZE;
    char* block = nullptr;
    std::size_t filled = 0;
    bool more = true;
    while (more && passed <= limit && !writer.HasFailed()) {
        if (block == nullptr)
            block = writer.NextBlock();
        const auto wanted = static_cast<std::size_t>(
            std::min<std::uint64_t>({InstallWriter::BLOCK_SIZE - filled, request, limit - passed + 1}));
        const std::size_t count = input.Read(block + filled, wanted).LastRead();
        filled += count;
        passed += count;
        // A read comes short only at the end of the input.
        more = count == wanted;
        request = std::min(2 * request, InstallWriter::BLOCK_SIZE);
        if (filled == InstallWriter::BLOCK_SIZE || (!more && filled > 0)) {
            writer.Push(filled);
            block = nullptr;
            filled = 0;
        }
    }
    return passed;
}

// Statuses that no retry will change: the file is not there, or not for us.
bool IsPermanentRefusal(long status)
{
    return status == 403 || status == 404 || status == 410;
}

} // namespace

FileDownload::FileDownload(const UpdateContext& context, InstalledFiles& installed)
    : context(context), installed(installed), resumeFile(context.baseDir)
{
}

bool FileDownload::DownloadFiles(FileList& list)
{
    wxLogVerbose("Checking total download size.");
    wxLogMessage("Download size: %llu bytes.", static_cast<unsigned long long>(DownloadSize(list)));
    wxLogMessage("Updating files.");
    corruptFile.clear();
    refusedRequest.reset();
    // A patch fails once at most: its file's member takes its place in the plan.
    bool done = DownloadPass(list);
    while (!done && patchFailed && !context.IsStopRequested()) {
        SortForDownload(list);
        done = DownloadPass(list);
    }
    if (!done)
        return false;
    resumeFile.KeepOnlyFor(list);
    context.notifier->Complete();
    wxLogMessage("Done updating.");
    return true;
}

bool FileDownload::DownloadPass(FileList& list)
{
    patchFailed = false;
    resume = resumeFile.KeepOnlyFor(list);
    InstallWriter writer;
    const bool read = ReadFiles(list, writer);
    // The files read before a failure are installed all the same.
    const bool recorded = RecordOutcomes(list, writer.TakeOutcomes(true));
    return read && recorded;
}

bool FileDownload::ReadFiles(FileList& list, InstallWriter& writer)
{
    WasteOutputStream waste;
    std::unique_ptr<ParallelDownload> download;
    std::vector<ParallelDownload::Run> runs;
    std::size_t opened = 0;
    wxInputStream* body = nullptr;
    const ManifestFileInfo* previous = nullptr;

    // Installed files leave the front of the list, behind the one read next.
    for (auto next = list.begin(); next != list.end(); ++next) {
        if (!RecordOutcomes(list, writer.TakeOutcomes(false)) || context.IsStopRequested())
            return false;
        ManifestFileInfo& record = **next;
        wxLogMessage("Downloading %s from %s", record.name, record.source_zip);
        if (previous == nullptr) {
            const wxString url = ArchiveUrl(context.baseUrl, record.source_zip);
            if (!HTTPWrapper::IsHttpUrl(url)) {
                wxLogError("Malformed URL: %s", url);
                lastError = ERROR_MALFORMED_URL;
                return false;
            }
            runs = PlanRuns(list, context.baseUrl, resume);
            download = std::make_unique<ParallelDownload>(runs, context.maxConnections,
                                                          &context.StopRequest(), server, context.gate);
        }
        if (!StartsRun(previous, record, resume)) {
            const std::uint32_t gap = record.offset - (previous->offset + previous->compressed_size);
            wxLogVerbose("Waste the gap: %d", static_cast<int>(gap));
            LimitedInputStream skipped(body, gap);
            skipped.Read(waste);
            wxLogVerbose("Wasted: %d", static_cast<int>(skipped.BytesRead()));
        } else {
            if (previous != nullptr)
                wxLogVerbose(
                    "Stream gap above threashold, reconnecting. Gap: %d",
                    static_cast<std::int32_t>(record.offset - previous->offset - previous->compressed_size));
            if (!OpenRun(*download, runs[opened++], body))
                return NoteRefusal(*download);
        }
        previous = &record;
        lastError = ERROR_NONE;
        if (context.IsStopRequested() || !InstallFrom(*body, record, writer))
            return NoteRefusal(*download);
        wxLogVerbose("read: %d, current offset: %d", static_cast<int>(record.compressed_size),
                     static_cast<int>(record.offset + record.compressed_size));
    }
    return true;
}

// A download that failed on an error status: kept for the retries to compare,
// and final when the status says that the file is not there for anyone.
bool FileDownload::NoteRefusal(const ParallelDownload& download)
{
    const std::optional<ParallelDownload::RequestFailure> failure = download.Failure();
    if (lastError != ERROR_DOWNLOAD || !failure || failure->status == 0)
        return false;
    refusedRequest = failure;
    if (IsPermanentRefusal(failure->status)) {
        wxLogError("The update server answered %ld for %s: it does not have the release's file.",
                   failure->status, wxString::FromUTF8(failure->url));
        lastError = ERROR_REFUSED;
    }
    return false;
}

bool FileDownload::OpenRun(ParallelDownload& download, const ParallelDownload::Run& run, wxInputStream*& body)
{
    wxLogVerbose("Range: bytes=%s", RangeList({run.bytes}));
    wxLogVerbose("Get http input stream.");
    wxLogVerbose("Query: %s", run.target);
    body = download.NextRun();
    if (body == nullptr) {
        // A request cut by a stop is nothing to retry.
        lastError = context.IsStopRequested() ? ERROR_NONE : ERROR_DOWNLOAD;
        return false;
    }
    return true;
}

// Reads exactly the record's bytes of the body, whatever the inflater leaves
// unread, so that the next record starts at its own offset.
bool FileDownload::InstallFrom(wxInputStream& body, ManifestFileInfo& record, InstallWriter& writer)
{
    const std::uint32_t kept = &record == resume.record ? resume.kept : 0;
    LimitedInputStream limited(&body, record.compressed_size - kept);
    const std::unique_ptr<wxInputStream> member = resumeFile.Open(record, kept, limited);
    ProgressInputStream counted(member.get(), context.notifier);
    bool passed = false;
    if (const FilePatch* patch = record.PatchInUse()) {
        PatchInputStream patched(counted, installed.FullPath(record.name), record.size, patch->segment);
        passed = InstallFile(record, patched, record.size, writer);
        if (!passed && !patched.Failure().empty()) {
            FallBackToMember(record, patched.Failure());
            return false;
        }
    } else if (record.compressed) {
        wxLogVerbose("Compressed stream.");
        wxZlibInputStream inflated(counted, 0);
        passed = InstallFile(record, inflated, InflatedSizeLimit(record), writer);
    } else {
        wxLogVerbose("Uncompressed stream.");
        passed = InstallFile(record, counted, record.compressed_size, writer);
    }
    if (passed && !limited.Eof()) {
        WasteOutputStream rest;
        limited.Read(rest);
    }
    // Bytes that arrived whole but do not inflate are a corrupt download too.
    if (!passed && lastError == ERROR_DOWNLOAD && body.GetLastError() != wxSTREAM_READ_ERROR) {
        corruptFile = record.name;
        resumeFile.Forget(record);
    }
    return passed;
}

// Passes at most limit bytes of input to the writer: a file that runs longer
// is a corrupt download, stopped before it can fill the disk.
bool FileDownload::InstallFile(const ManifestFileInfo& record, wxInputStream& input, std::uint64_t limit,
                               InstallWriter& writer)
{
    writer.Begin(record, installed.FullPath(record.name), installed.FileMode(record));
    if (PassInput(input, limit, writer) > limit) {
        writer.Drop();
        wxLogError("%s grows beyond %llu bytes.", record.name, static_cast<unsigned long long>(limit));
        wxLogError("Corrupted download of %s", record.name);
        lastError = ERROR_DOWNLOAD;
        corruptFile = record.name;
        return false;
    }
    if (writer.HasFailed()) {
        writer.Drop();
        return false;
    }
    // A stop cuts the transfer short: the file is dropped, and the one it was
    // to replace stays as it was.
    if (context.IsStopRequested()) {
        writer.Drop();
        wxLogMessage("Stopped while writing %s", record.name);
        lastError = ERROR_NONE;
        return false;
    }
    wxLogVerbose("input stream last error: %d", static_cast<int>(input.GetLastError()));
    if (input.GetLastError() == wxSTREAM_READ_ERROR) {
        writer.Drop();
        wxLogError("Could not read from input stream.");
        lastError = ERROR_DOWNLOAD;
        return false;
    }
    writer.End();
    return true;
}

void FileDownload::FallBackToMember(ManifestFileInfo& record, const wxString& reason)
{
    wxLogWarning("Patch for %s failed (%s); fetching the whole file.", record.name, reason);
    resumeFile.Forget(record);
    record.UseMember();
    // The patch's bytes came all the same.
    context.notifier->ExtendRange(record.compressed_size);
    patchFailed = true;
    lastError = ERROR_DOWNLOAD;
    corruptFile.clear();
}

bool FileDownload::RecordOutcomes(FileList& list, const std::vector<InstallWriter::Outcome>& outcomes)
{
    for (const InstallWriter::Outcome& outcome : outcomes) {
        switch (outcome.result) {
        case InstallWriter::Result::Installed:
            installed.RecordInstalledFile(*outcome.record, outcome.status, outcome.digest);
            // The patch's place holds the member's meanwhile.
            if (const FilePatch* patch = outcome.record->PatchInUse()) {
                ++patchedFiles;
                savedBytes += patch->compressed_size -
                              std::min(patch->compressed_size, outcome.record->compressed_size);
            }
            list.pop_front();
            break;
        case InstallWriter::Result::Corrupt:
            // The front of the list is the outcome's record.
            if (outcome.record->PatchInUse() != nullptr) {
                FallBackToMember(*list.front(), "the result does not match the release");
                return false;
            }
            lastError = ERROR_DOWNLOAD;
            corruptFile = outcome.record->name;
            resumeFile.Forget(*outcome.record);
            return false;
        case InstallWriter::Result::WriteFailed:
            lastError = ERROR_WRITE;
            return false;
        case InstallWriter::Result::Dropped:
            return false;
        }
    }
    return true;
}
