#include "update/DownloadPlan.h"

#include "download/HTTPWrapper.h"
#include "download/ParameterMap.h"
#include "platform/FileStatus.h"
#include "update/InstalledFiles.h"

#include <algorithm>

void SortForDownload(FileList& list)
{
    list.sort([](const ManifestFileInfo* a, const ManifestFileInfo* b) {
        if (a->source_zip != b->source_zip)
            return Utf16Less()(a->source_zip, b->source_zip);
        return a->offset < b->offset;
    });
}

wxString ArchiveUrl(const wxString& baseUrl, const wxString& archive)
{
    wxString path(archive);
    path.Replace("\\", "/");
    return baseUrl + path;
}

bool ContinuesRun(const ManifestFileInfo& previous, const ManifestFileInfo& record)
{
    const std::uint32_t end = previous.offset + previous.compressed_size;
    return record.source_zip == previous.source_zip && record.offset >= end &&
           record.offset - end <= GAP_THRESHOLD;
}

bool StartsRun(const ManifestFileInfo* previous, const ManifestFileInfo& record, const ResumePoint& resume)
{
    return previous == nullptr || &record == resume.record || !ContinuesRun(*previous, record);
}

std::vector<ParallelDownload::Run> PlanRuns(const FileList& list, const wxString& baseUrl,
                                            const ResumePoint& resume)
{
    std::vector<ParallelDownload::Run> runs;
    const ManifestFileInfo* previous = nullptr;
    for (const ManifestFileInfo* record : list) {
        if (StartsRun(previous, *record, resume)) {
            const HTTPWrapper archive(ArchiveUrl(baseUrl, record->source_zip));
            const std::uint64_t first =
                std::uint64_t{record->offset} + (record == resume.record ? resume.kept : 0);
            runs.push_back({archive.Origin(), archive.RequestTarget(), {first, first - 1}});
        }
        // An empty file adds nothing; a run of them alone asks for nothing.
        const std::uint64_t end = std::uint64_t{record->offset} + record->compressed_size;
        runs.back().bytes.last = std::max(runs.back().bytes.last + 1, end) - 1;
        previous = record;
    }
    return runs;
}

std::int64_t DownloadSize(const FileList& list)
{
    std::int64_t size = 0;
    for (const ManifestFileInfo* record : list)
        size += record->compressed_size;
    return size;
}

std::uint64_t SpaceNeeded(const FileList& list, const InstalledFiles& installed)
{
    std::int64_t added = 0;
    std::int64_t peak = 0;
    for (const ManifestFileInfo* record : list) {
        // Without a size, the archive bytes: less than an inflated file needs,
        // so an update that fits is never refused.
        const std::int64_t size = record->size != 0 ? record->size : record->compressed_size;
        platform::FileStatus replaced;
        if (!platform::GetFileStatus(installed.FullPath(record->name), replaced) || !replaced.regularFile)
            replaced.size = 0;
        peak = std::max(peak, added + size);
        added += size - static_cast<std::int64_t>(replaced.size);
    }
    return static_cast<std::uint64_t>(peak);
}
