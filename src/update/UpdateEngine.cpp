#include "update/UpdateEngine.h"

#include "common/Cancellation.h"
#include "common/MD5.h"
#include "common/RetryBursts.h"
#include "common/VersionText.h"
#include "common/WorkerThread.h"
#include "download/HTTPWrapper.h"
#include "download/LimitedInputStream.h"
#include "download/ParallelDownload.h"
#include "download/ParameterMap.h"
#include "download/ProgressInputStream.h"
#include "download/WasteOutputStream.h"
#include "platform/AtomicFile.h"
#include "platform/DiskSpace.h"
#include "platform/FileMode.h"
#include "platform/FileStatus.h"
#include "progress/ProgressNotifier.h"
#include "telemetry/TelemetryClient.h"
#include "update/DirectoryIndex.h"
#include "update/InstallWriter.h"

#include <wx/dir.h>
#include <wx/ffile.h>
#include <wx/filename.h>
#include <wx/intl.h>
#include <wx/log.h>
#include <wx/zstream.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <utility>

namespace {

const wxString INVALID_VERSION = "invalid";
const wxString INVALID_REMOTE_VERSION = "invalid_remote";
const wxString MANIFEST_FILE_NAME = "manifest2.xml";
const wxString VERSION_FILE_NAME = "version.inf";
const wxString FINISHED = "updater_finished";

// Deflate cannot inflate a byte to more than this many: the bound for a
// member whose record does not give its size.
constexpr std::uint64_t MAX_INFLATION_RATIO = 1032;
// A file that fails its digest in this many series of retries in a row is
// damaged in the release itself: retrying for ever cannot help.
constexpr int MAX_CORRUPT_SERIES = 3;
// Failed downloads in a row before the update pauses.
constexpr int ATTEMPTS_PER_BURST = 10;
constexpr std::size_t FIRST_READ_SIZE = 16 * 1024;

// Download order: each archive read once, front to back.
void SortForDownload(FileList& list)
{
    list.sort([](const ManifestFileInfo* a, const ManifestFileInfo* b) {
        if (a->source_zip != b->source_zip)
            return Utf16Less()(a->source_zip, b->source_zip);
        return a->offset < b->offset;
    });
}

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

// A game executable keeps its execute bits; other bits a release cannot set.
int FileMode(const ManifestFileInfo& record)
{
    return record.permission > 0 ? (record.permission & 0777) : 0644;
}

void BuildMap(ManifestMap& map, Manifest& manifest)
{
    map.clear();
    for (ManifestFileInfo& record : manifest)
        map[record.name] = &record;
}

wxString FirstLine(const wxString& text)
{
    const size_t end = text.find_first_of("\r\n");
    return end == wxString::npos ? text : text.substr(0, end);
}

} // namespace

UpdateEngine::UpdateEngine(const wxString& baseDir)
    : baseDir(baseDir), localManifest(baseDir, MANIFEST_FILE_NAME)
{
    remoteManifest.SetSession(&serverSession);
    ReadLocalVersion();
}

UpdateEngine::~UpdateEngine()
{
    if (worker) {
        Stop();
        worker->Join();
    }
}

void UpdateEngine::SetProgressNotifier(ProgressNotifier* progress)
{
    notifier = progress;
    notifier->SetStopRequested(false);
}

void UpdateEngine::SetBaseUrl(const wxString& url)
{
    baseUrl = url.EndsWith("/") ? url : url + "/";
    multiRange = true;
}

bool UpdateEngine::IsLocalVersionValid() const
{
    return localVersion != INVALID_VERSION;
}

bool UpdateEngine::IsRemoteVersionValid() const
{
    return remoteVersion != INVALID_REMOTE_VERSION;
}

wxString UpdateEngine::VersionFilePath() const
{
    return wxFileName(baseDir, VERSION_FILE_NAME).GetFullPath();
}

void UpdateEngine::ReadLocalVersion()
{
    wxFFile file;
    wxString text;
    bool read = false;
    {
        wxLogNull quiet; // the error below says it
        read = wxFileName::FileExists(VersionFilePath()) && file.Open(VersionFilePath(), "rb") &&
               file.ReadAll(&text, wxConvAuto());
    }
    if (!read) {
        wxLogError("Error reading local version file.");
        localVersion = INVALID_VERSION;
        return;
    }
    localVersion = FirstLine(text);
    wxLogMessage("Local version is: %s", localVersion);
}

// Written whole or not at all: a crash must not leave a half version behind.
bool UpdateEngine::WriteLocalVersion()
{
    const wxString path = VersionFilePath();
    if (wxFileName::FileExists(path) && !wxFileName::IsFileWritable(path)) {
        wxLogError("Error writing local version.");
        return false;
    }
    if (!platform::WriteFileAtomically(path, localVersion.utf8_string()))
        return false;
    wxLogMessage("Wrote local version: %s", localVersion);
    return true;
}

bool UpdateEngine::ReadRemoteVersion()
{
    const wxString url = baseUrl + wxString::Format("version-win-%s.php", languageCode);
    wxLogMessage("Reading remote version from: %s", url);
    remoteVersionTimedOut = false;
    const auto giveUpAt = std::chrono::steady_clock::now() + std::chrono::seconds(remoteVersionWait);
    for (;;) {
        if (IsStopRequested()) {
            wxLogVerbose("Stopped while trying to read remote version.");
            return false;
        }
        notifier->SetStatus(_("Reading remote version..."), MESSAGE_INFO);
        wxString answer;
        // An answer that is no version (an error page, a stray line) is a failed query.
        if (FetchFirstLine(answer, url,
                           {.cancellation = TransferCancellation(), .session = &serverSession}) &&
            LooksLikeVersion(answer)) {
            remoteVersion = answer;
            wxLogMessage("Remote version is: %s", remoteVersion);
            return true;
        }
        // A query cut by a stop is no server error.
        if (IsStopRequested())
            continue;
        wxLogError("Error reading remote version. Code: %d", lastError);
        if (remoteVersionWait > 0 && std::chrono::steady_clock::now() >= giveUpAt) {
            wxLogError("The update server did not answer for %d seconds.", remoteVersionWait);
            remoteVersionTimedOut = true;
            return false;
        }
        notifier->SetErrorStatus(
            wxString::Format(_("Error reading remote version. Retrying in %d seconds."), 1));
        Pause(1);
    }
}

bool UpdateEngine::IsNewVersion() const
{
    return localVersion != remoteVersion;
}

bool UpdateEngine::LoadRemoteManifest()
{
    const wxString url = baseUrl + remoteVersion + ".xml.gz";
    bool loaded = true;
    if (!releaseKey) {
        loaded = remoteManifest.Load(url, notifier);
    } else if (url != verifiedManifestUrl) {
        loaded = remoteManifest.LoadSigned(url, *releaseKey, notifier);
        verifiedManifestUrl = loaded ? url : wxString();
    }
    UpdateRemoteMap();
    return loaded;
}

void UpdateEngine::UpdateRemoteMap()
{
    wxLogVerbose("Updating remote map.");
    BuildMap(remoteMap, remoteManifest);
}

void UpdateEngine::StartChecker()
{
    StartWorker([this] { Check(); }, "Error creating thread for local checker.");
}

void UpdateEngine::StartUpdater()
{
    StartWorker([this] { RunUpdate(); }, "Error creating thread for updater.");
}

void UpdateEngine::StartWorker(std::function<void()> job, const char* failure)
{
    WaitForWorker();
    notifier->SetStopRequested(false);
    worker = std::make_unique<WorkerThread>(std::move(job));
    if (!worker->Start()) {
        wxLogError(failure);
        worker.reset();
    }
}

// The previous worker has posted its last event by the time the next one is
// asked for, so this wait is short.
void UpdateEngine::WaitForWorker()
{
    if (worker) {
        worker->Join();
        worker.reset();
    }
}

void UpdateEngine::Stop()
{
    notifier->SetStopRequested(true);
}

bool UpdateEngine::IsWorking() const
{
    return worker && worker->IsRunning();
}

bool UpdateEngine::IsStopRequested() const
{
    return notifier->IsStopRequested();
}

const Cancellation* UpdateEngine::TransferCancellation() const
{
    return &notifier->GetCancellation();
}

void UpdateEngine::Pause(int seconds) const
{
    notifier->GetCancellation().Sleep(std::chrono::seconds(seconds));
}

void UpdateEngine::SendFinished(const wxString& result)
{
    if (telemetry != nullptr)
        telemetry->SendEvent(FINISHED, result);
}

void UpdateEngine::Check()
{
    // The records of an earlier list go away with the manifests reloaded below.
    mismatches.clear();
    verifiedManifestUrl.clear();
    wxLogMessage("Starting local checks.");
    if (telemetry != nullptr) {
        telemetry->SetVersion(localVersion);
        telemetry->SendEvent("updater_started");
    }
    // Without an answer nothing is known about the release: a stop leaves
    // the installation exactly as it was.
    const bool answered = ReadRemoteVersion();
    if (!answered && EndIfStopped())
        return;
    if (!answered || !IsRemoteVersionValid()) {
        wxLogError("Could not read remote version.");
        EndWithoutRelease(_("Could not find remote version."));
        return;
    }
    // A full check goes the way of a new release, which hashes every file that changed.
    const bool newVersion = IsNewVersion() || fullCheck;
    if (newVersion) {
        if (fullCheck)
            wxLogMessage("Checking every file against version %s.", remoteVersion);
        else
            wxLogMessage("New version found: %s", remoteVersion);
        // A signed release is verified before anything is written for it.
        if (releaseKey && !DownloadReleaseManifest())
            return;
    } else {
        wxLogVerbose("Checking local files for missing files");
        ReloadLocalManifest();
        // The release's manifest is needed only to fetch what is missing.
        if (HasMissingFiles()) {
            // Entries for the files put back must update their records, not add copies.
            UpdateLocalMap();
            const bool loaded = LoadRemoteManifest();
            // A manifest cut short by a stop would make every file look present.
            if (EndIfStopped())
                return;
            if (!loaded && ReleaseRefused()) {
                EndWithoutManifest();
                return;
            }
            mismatches = FindMissingFiles();
        }
        if (mismatches.empty()) {
            wxLogMessage("No new version found.");
            notifier->SetStatus(_("Click play to start the game."));
            notifier->SetRange(100);
            notifier->Complete();
            notifier->PostNoChangesFound();
            SendFinished("VELORIAN_ALREADY_UPDATED");
            return;
        }
        wxLogMessage("Local missing files found: %d", static_cast<int>(mismatches.size()));
    }
    if (telemetry != nullptr)
        telemetry->SetVersion(remoteVersion);
    localVersion = INVALID_VERSION;
    if (!WriteLocalVersion()) {
        // Without its guard an interrupted update would pass for a complete one.
        lastError = ERROR_WRITE;
        SendFinished(AnnounceStop());
        notifier->PostUpdateStopped();
        return;
    }
    if (newVersion)
        UpdateLocalManifest();
    if (EndIfStopped())
        return;
    if (!DownloadReleaseManifest() || EndIfStopped())
        return;
    if (newVersion) {
        CleanLocalManifest();
        wxLogVerbose("Remote manifest contais %d items.", static_cast<int>(remoteManifest.size()));
        mismatches = CompareManifests();
    }
    if (!mismatches.empty()) {
        wxLogMessage("Mismatches: %d", static_cast<int>(mismatches.size()));
        notifier->PostStartUpdate();
        return;
    }
    wxLogMessage("No mismatches found.");
    localVersion = remoteVersion;
    WriteLocalVersion();
    notifier->SetStatus(_("No changes found. Click play to start the game."));
    notifier->Complete();
    notifier->PostNoChangesFound();
    SendFinished("VELORIAN_ALREADY_UPDATED");
}

bool UpdateEngine::EndIfStopped()
{
    if (!IsStopRequested())
        return false;
    wxLogMessage("Stopped local check.");
    SendFinished("ABORTED");
    return true;
}

void UpdateEngine::EndWithoutRelease(const wxString& status)
{
    notifier->SetErrorStatus(status);
    notifier->PostDisablePlay();
    SendFinished("ABORTED_GET_REMOTE_VERSION");
}

bool UpdateEngine::DownloadReleaseManifest()
{
    notifier->SetStatus(_("New version found. Downloading update data."));
    if (LoadRemoteManifest())
        return true;
    EndWithoutManifest();
    return false;
}

void UpdateEngine::EndWithoutManifest()
{
    if (EndIfStopped())
        return;
    if (ReleaseRefused()) {
        wxLogError("Refused release %s: it is not signed by the publisher.", remoteVersion);
        EndWithoutRelease(_("The update data is not signed by the publisher."));
    } else {
        wxLogError("Could not read download remote manifest.");
        EndWithoutRelease(_("Could not download update data."));
    }
}

FileList UpdateEngine::CompareManifests() const
{
    FileList list;
    for (const ManifestFileInfo& remote : remoteManifest) {
        const auto local = localMap.find(remote.name);
        const bool found = local != localMap.end();
        wxLogVerbose("%s in local manifest: %s", found ? "Found" : "Not found", remote.name);
        // A record outlives its file: a file deleted since, or never put back
        // by an interrupted repair, must be fetched whatever its record says.
        if (found && local->second->checksum.IsSameAs(remote.checksum, false) && IsInPlace(remote)) {
            wxLogVerbose("Info matches: %s", remote.name);
        } else {
            wxLogVerbose("Mismatch found: %s", remote.name);
            list.push_back(const_cast<ManifestFileInfo*>(&remote));
        }
    }
    SortForDownload(list);
    return list;
}

// True when the file of a release record is on disk. One without the record's
// permission bits (installed before they were applied) gets them here, since
// its content needs no download.
bool UpdateEngine::IsInPlace(const ManifestFileInfo& record) const
{
    const wxString path = localManifest.FullPath(record.name);
    platform::FileStatus status;
    if (!platform::GetFileStatus(path, status) || !status.regularFile)
        return false;
    const int mode = FileMode(record);
    if (status.mode != mode) {
        wxLogMessage("Setting the permission bits of %s to %o.", record.name, mode);
        if (!platform::SetFileMode(path, mode))
            wxLogWarning("Could not change the permission bits of %s.", path);
    }
    return true;
}

bool UpdateEngine::IsFileMissing(const wxString& name) const
{
    platform::FileStatus status;
    return !platform::GetFileStatus(localManifest.FullPath(name), status) || !status.regularFile;
}

bool UpdateEngine::HasMissingFiles() const
{
    DirectoryIndex present(localManifest);
    return std::any_of(localManifest.begin(), localManifest.end(),
                       [&present](const ManifestFileInfo& record) { return !present.Exists(record.name); });
}

FileList UpdateEngine::FindMissingFiles()
{
    FileList list;
    for (ManifestFileInfo& local : localManifest) {
        const auto remote = remoteMap.find(local.name);
        if (!IsFileMissing(local.name))
            continue;
        const wxString path = localManifest.FullPath(local.name);
        if (remote == remoteMap.end()) {
            wxLogMessage("Missing: %s (src: %s)", path, "unknown");
            continue;
        }
        const ManifestFileInfo& release = *remote->second;
        wxLogMessage("Missing: %s (src: %s)", path, release.source_zip);
        const wxString name = local.name;
        local = release;
        local.name = name;
        list.push_back(&local);
    }
    SortForDownload(list);
    return list;
}

// Reads the manifest file afresh: a second check in one run must not stack a
// second copy of every record onto the first.
bool UpdateEngine::ReloadLocalManifest()
{
    localMap.clear();
    localManifest.clear();
    return localManifest.LoadDefault();
}

bool UpdateEngine::UpdateLocalManifest()
{
    if (!ReloadLocalManifest()) {
        wxLogWarning("Local manifest not found. Creating from scratch.");
        notifier->SetStatus(_("New version found. Searching for files..."));
        notifier->Pulse();
        if (!CreateLocalManifest()) {
            wxLogError("Error creating manifest.");
            return false;
        }
    }
    if (fullCheck) {
        // Without a checksum every file is hashed, whatever its size and time.
        for (ManifestFileInfo& record : localManifest)
            record.checksum.clear();
    }
    wxLogInfo("Checking local changes.");
    notifier->SetStatus(_("New version found. Checking local changes..."));
    notifier->SetRange(static_cast<int>(localManifest.size()));
    const bool changed = localManifest.CheckLocalChanges(notifier);
    wxLogVerbose("Manifest updated.");
    if (changed)
        localManifest.SaveDefault();
    wxLogVerbose("Updating local map.");
    UpdateLocalMap();
    wxLogVerbose("Local map updated.");
    notifier->Complete();
    return changed;
}

bool UpdateEngine::CreateLocalManifest()
{
    if (!localManifest.empty()) {
        wxLogWarning("Tried to recreate manifest but it is not empty.");
        return false;
    }
    localManifest.Scan();
    wxLogVerbose("Saving manifest.");
    if (!localManifest.SaveDefault())
        return false;
    UpdateLocalMap();
    wxLogVerbose("Manifest saved.");
    return true;
}

void UpdateEngine::CleanLocalManifest()
{
    wxLogVerbose("Local manifest size before clean: %d", static_cast<int>(localManifest.size()));
    bool removed = false;
    for (auto record = localManifest.begin(); record != localManifest.end();) {
        if (remoteMap.count(record->name) != 0) {
            ++record;
            continue;
        }
        removed = true;
        const wxString path = ObsoleteFilePath(record->name);
        if (!path.empty()) {
            wxLogMessage("Deleting local file: %s", path);
            wxRemoveFile(path);
        }
        wxLogMessage("Removing from local manifest: %s", record->name);
        record = localManifest.erase(record);
    }
    if (removed) {
        UpdateLocalMap();
        localManifest.SaveDefault();
    }
    wxLogVerbose("Local manifest size after clean: %d", static_cast<int>(localManifest.size()));
}

// Only the game's data files are deleted, and only inside the installation:
// ".." and a leading separator are dropped before the name is joined to it.
wxString UpdateEngine::ObsoleteFilePath(const wxString& name) const
{
    wxString relative(name);
    relative.Replace("..", "");
    if (relative.StartsWith("\\") || relative.StartsWith("/"))
        relative.erase(0, 1);
    const wxFileName file(localManifest.GetDirectory() + ManifestNameToPath(relative));
    const wxString extension = file.GetExt();
    if ((extension != "res" && extension != "unity3d") || !file.FileExists())
        return wxString();
    return file.GetFullPath();
}

void UpdateEngine::FindChanges(const wxString& pattern)
{
    WaitForWorker();
    if (localManifest.empty() && !localManifest.LoadDefault()) {
        wxLogWarning("FindChanges: Could not read manifest during file check. Will try to recreate one");
        if (!CreateLocalManifest()) {
            wxLogError("Something went wrong while creating manifest.");
            ReportChanges(nullptr);
            return;
        }
    }
    localManifest.CheckLocalChanges(nullptr);
    if (!localManifest.SaveDefault())
        wxLogError("Error writing manifest.");
    UpdateLocalMap();

    const wxString folder = pattern.BeforeLast('\\');
    const wxString folderPath = localManifest.GetDirectory() + ManifestNameToPath(folder);
    wxDir dir;
    wxString fileName;
    if (!wxDir::Exists(folderPath) || !dir.Open(folderPath) ||
        !dir.GetFirst(&fileName, pattern.AfterLast('\\'), wxDIR_FILES)) {
        wxLogVerbose("No files found matching pattern %s", pattern);
        return;
    }
    wxArrayString changed;
    do {
        const wxString name = folder.empty() ? fileName : folder + "\\" + fileName;
        const auto record = localMap.find(name);
        if (record == localMap.end())
            continue;
        const wxString digest = FileMD5(localManifest.FullPath(name));
        if (digest != record->second->checksum) {
            wxLogVerbose("File: %s, expected MD5: %s, found MD5: %s", name, record->second->checksum, digest);
            changed.push_back(name);
        }
    } while (dir.GetNext(&fileName));
    ReportChanges(&changed);
}

void UpdateEngine::ReportChanges(const wxArrayString* changed)
{
    if (telemetry != nullptr)
        telemetry->SetChanges(changed);
}

void UpdateEngine::UpdateLocalMap()
{
    wxLogVerbose("Updating local map.");
    BuildMap(localMap, localManifest);
}

bool UpdateEngine::DownloadFiles(FileList& list)
{
    wxLogVerbose("Checking total download size.");
    std::uint64_t total = 0;
    for (const ManifestFileInfo* record : list)
        total += record->compressed_size;
    wxLogMessage("Download size: %llu bytes.", static_cast<unsigned long long>(total));
    notifier->SetRange(static_cast<std::int64_t>(total));
    notifier->SetStatus(_("Updating files. ${bytesLeft} left at ${byteRate}, estimated time: ${timeLeft}"),
                        MESSAGE_INFO);
    wxLogMessage("Updating files.");
    corruptFile.clear();

    InstallWriter writer;
    const bool read = ReadFiles(list, writer);
    // The files read before a failure are installed all the same.
    const bool installed = RecordOutcomes(list, writer.TakeOutcomes(true));
    if (!read || !installed)
        return false;
    notifier->Complete();
    wxLogMessage("Done updating.");
    return true;
}

// Reads the files of the list from the update server, in order, into the
// writer. False at the first failure of its own (with lastError set), at a
// failure of the writer's, or on a stop.
bool UpdateEngine::ReadFiles(FileList& list, InstallWriter& writer)
{
    WasteOutputStream waste;
    std::unique_ptr<ParallelDownload> download;
    std::vector<ParallelDownload::Run> runs;
    std::size_t opened = 0;
    wxInputStream* body = nullptr;
    std::uint32_t position = 0;
    const ManifestFileInfo* previous = nullptr;

    // Installed files leave the front of the list, behind the one read next.
    for (auto next = list.begin(); next != list.end(); ++next) {
        if (!RecordOutcomes(list, writer.TakeOutcomes(false)) || IsStopRequested())
            return false;
        const ManifestFileInfo& record = **next;
        const wxString url = ArchiveUrl(record.source_zip);
        wxLogMessage("Downloading %s from %s", record.name, record.source_zip);
        const std::uint32_t gap = record.offset - position;
        if (previous == nullptr) {
            if (!HTTPWrapper::IsHttpUrl(url)) {
                wxLogError("Malformed URL: %s", url);
                lastError = ERROR_MALFORMED_URL;
                return false;
            }
            runs = PlanRuns(list);
            download =
                std::make_unique<ParallelDownload>(runs, maxConnections, TransferCancellation(), multiRange);
            if (!OpenRun(*download, runs[opened++], body))
                return false;
            position = record.offset;
        } else if (ContinuesRun(*previous, position, record)) {
            wxLogVerbose("Waste the gap: %d", static_cast<int>(gap));
            LimitedInputStream skipped(body, gap);
            skipped.Read(waste);
            position += gap;
            wxLogVerbose("Wasted: %d", static_cast<int>(skipped.BytesRead()));
        } else {
            wxLogVerbose("Stream gap above threashold, reconnecting. Gap: %d",
                         static_cast<std::int32_t>(gap));
            if (!OpenRun(*download, runs[opened++], body))
                return false;
            position = record.offset;
        }
        previous = &record;
        const std::uint32_t start = position;
        lastError = ERROR_NONE;
        if (IsStopRequested())
            return false;
        if (!InstallFrom(*body, record, writer))
            return false;
        position = start + record.compressed_size;
        wxLogVerbose("read: %d, current offset: %d", static_cast<int>(record.compressed_size),
                     static_cast<int>(position));
    }
    return true;
}

// The runs of records that the download reads, each with one request's worth
// of bytes, by the same rule as the download itself.
std::vector<ParallelDownload::Run> UpdateEngine::PlanRuns(const FileList& list) const
{
    std::vector<ParallelDownload::Run> runs;
    const ManifestFileInfo* previous = nullptr;
    std::uint32_t position = 0;
    for (const ManifestFileInfo* record : list) {
        if (previous == nullptr || !ContinuesRun(*previous, position, *record)) {
            const HTTPWrapper archive(ArchiveUrl(record->source_zip));
            runs.push_back(
                {archive.Origin(), archive.RequestTarget(), {record->offset, record->offset - 1ULL}});
        }
        // An empty file adds nothing; a run of them alone asks for nothing.
        const std::uint64_t end = std::uint64_t{record->offset} + record->compressed_size;
        runs.back().bytes.last = std::max(runs.back().bytes.last + 1, end) - 1;
        position = record->offset + record->compressed_size;
        previous = record;
    }
    return runs;
}

// A record close behind the previous one in the same archive is read from the
// same body, the gap read through: cheaper than another request.
bool UpdateEngine::ContinuesRun(const ManifestFileInfo& previous, std::uint32_t position,
                                const ManifestFileInfo& record)
{
    return record.source_zip == previous.source_zip && record.offset - position <= GAP_THRESHOLD;
}

// Archive names come with backslashes between folders, like the file names;
// a web server wants slashes.
wxString UpdateEngine::ArchiveUrl(const wxString& archive) const
{
    wxString path(archive);
    path.Replace("\\", "/");
    return baseUrl + path;
}

bool UpdateEngine::OpenRun(ParallelDownload& download, const ParallelDownload::Run& run, wxInputStream*& body)
{
    wxLogVerbose("Range: bytes=%s", RangeList({run.bytes}));
    wxLogVerbose("Get http input stream.");
    wxLogVerbose("Query: %s", run.target);
    body = download.NextRun();
    if (body == nullptr) {
        // A request cut by a stop is nothing to retry.
        lastError = IsStopRequested() ? ERROR_NONE : ERROR_DOWNLOAD;
        return false;
    }
    return true;
}

// Reads exactly the record's bytes of the body, whatever the inflater leaves
// unread, so that the next record starts at its own offset.
bool UpdateEngine::InstallFrom(wxInputStream& body, const ManifestFileInfo& record, InstallWriter& writer)
{
    LimitedInputStream limited(&body, record.compressed_size);
    ProgressInputStream counted(&limited, notifier);
    bool passed = false;
    if (record.compressed) {
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
    if (!passed && lastError == ERROR_DOWNLOAD && body.GetLastError() != wxSTREAM_READ_ERROR)
        corruptFile = record.name;
    return passed;
}

// Passes at most limit bytes of input to the writer: a file that runs longer
// is a corrupt download, stopped before it can fill the disk.
bool UpdateEngine::InstallFile(const ManifestFileInfo& record, wxInputStream& input, std::uint64_t limit,
                               InstallWriter& writer)
{
    writer.Begin(record, localManifest.FullPath(record.name), FileMode(record));
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
    if (IsStopRequested()) {
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

// Records the installed files and takes them off the front of the list, where
// they are in the same order. False at a failed file, with lastError set for
// the writer's own failures.
bool UpdateEngine::RecordOutcomes(FileList& list, const std::vector<InstallWriter::Outcome>& outcomes)
{
    for (const InstallWriter::Outcome& outcome : outcomes) {
        switch (outcome.result) {
        case InstallWriter::Result::Installed:
            RecordInstalledFile(*outcome.record, outcome.status, outcome.digest);
            list.pop_front();
            break;
        case InstallWriter::Result::Corrupt:
            lastError = ERROR_DOWNLOAD;
            corruptFile = outcome.record->name;
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

void UpdateEngine::RecordInstalledFile(const ManifestFileInfo& record, const platform::FileStatus& status,
                                       const wxString& digest)
{
    const auto local = localMap.find(record.name);
    if (local != localMap.end()) {
        wxLogVerbose("Updating manifest entry for %s", record.name);
        local->second->timestamp = status.modified;
        local->second->checksum = digest;
        local->second->size = static_cast<std::uint32_t>(status.size);
        return;
    }
    wxLogVerbose("Adding %s to manifest.", record.name);
    localManifest.push_back(
        ManifestFileInfo(record.name, status.modified, digest, static_cast<std::uint32_t>(status.size)));
}

void UpdateEngine::RunUpdate()
{
    wxLogMessage("Update started.");
    notifier->SetStatus(_("Updating files."), MESSAGE_INFO);
    notifier->PostUpdateStarted();
    if (!HasRoomFor(mismatches)) {
        EndStopped("DOWNLOAD_WRITING_ERROR");
        return;
    }
    RetryBursts retries(ATTEMPTS_PER_BURST);
    wxString seriesCorrupt; // the file that failed its digest in this series of retries
    wxString repeatedCorrupt;
    int corruptSeries = 0; // series in a row in which repeatedCorrupt failed its digest
    bool ok = DownloadFiles(mismatches);
    while (!ok && lastError == ERROR_DOWNLOAD && !IsStopRequested()) {
        const int pause = retries.Fail();
        if (!corruptFile.empty())
            seriesCorrupt = corruptFile;
        wxLogError(
            wxString::Format(_("Got %d error while downloading update. Retrying."), retries.Failures()));
        if (pause > 0) {
            corruptSeries = seriesCorrupt.empty()              ? 0
                            : seriesCorrupt == repeatedCorrupt ? corruptSeries + 1
                                                               : 1;
            repeatedCorrupt = std::exchange(seriesCorrupt, wxString());
            if (corruptSeries == MAX_CORRUPT_SERIES) {
                wxLogError("%s failed its checksum in %d series of retries: the release is damaged.",
                           repeatedCorrupt, corruptSeries);
                break;
            }
            wxLogError(wxString::Format(_("Update stopped 10 times, download error. Retrying in %d seconds."),
                                        pause));
            notifier->SetErrorStatus(
                wxString::Format(_("Error while downloading update... retrying in %d seconds."), pause));
            Pause(pause);
        }
        ok = DownloadFiles(mismatches);
    }
    if (ok)
        FinishUpdate();
    else
        EndStopped(AnnounceStop());
}

// Each file is written beside the one it replaces, which is freed once the new
// one is in place: the most the update adds to the disk at one time.
std::uint64_t UpdateEngine::SpaceNeeded(const FileList& list) const
{
    std::int64_t added = 0;
    std::int64_t peak = 0;
    for (const ManifestFileInfo* record : list) {
        // Without a size, the archive bytes: less than an inflated file needs,
        // so an update that fits is never refused.
        const std::int64_t size = record->size != 0 ? record->size : record->compressed_size;
        platform::FileStatus replaced;
        if (!platform::GetFileStatus(localManifest.FullPath(record->name), replaced) || !replaced.regularFile)
            replaced.size = 0;
        peak = std::max(peak, added + size);
        added += size - static_cast<std::int64_t>(replaced.size);
    }
    return static_cast<std::uint64_t>(peak);
}

// Refuses, before a byte is written, an update that the disk cannot hold.
bool UpdateEngine::HasRoomFor(const FileList& list)
{
    std::uint64_t free = 0;
    if (!platform::GetFreeDiskSpace(baseDir, free))
        return true;
    const std::uint64_t needed = SpaceNeeded(list);
    if (needed <= free)
        return true;
    wxLogError("Not enough free space in %s: the update needs %llu bytes, %llu are free.", baseDir,
               static_cast<unsigned long long>(needed), static_cast<unsigned long long>(free));
    const wxString format(_("Not enough disk space: the update needs %s, but only %s are free."));
    notifier->SetErrorStatus(wxString::Format(format, SizeText(static_cast<std::int64_t>(needed)),
                                              SizeText(static_cast<std::int64_t>(free))));
    lastError = ERROR_WRITE;
    return false;
}

void UpdateEngine::FinishUpdate()
{
    wxLogVerbose("Mismatches left: %d", static_cast<int>(mismatches.size()));
    mismatches.clear();
    localManifest.SaveDefault();
    localVersion = remoteVersion;
    WriteLocalVersion();
    wxLogMessage("Update done.");
    notifier->PostUpdateFinished();
    SendFinished("VELORIAN_UPDATED");
}

// Logs and shows why the update stopped; returns the telemetry word for it.
wxString UpdateEngine::AnnounceStop()
{
    if (IsStopRequested() || lastError == ERROR_NONE) {
        wxLogWarning("Update stopped.");
        notifier->SetStatus(_("Update stopped."), MESSAGE_INFO);
        return "ABORTED";
    }
    if (lastError == ERROR_WRITE) {
        wxLogError("Update stopped, write error.");
        notifier->SetErrorStatus(_("Error writing to files. Please check file permissions and try again."));
        return "DOWNLOAD_WRITING_ERROR";
    }
    // Download failures are retried; only a release that stays damaged ends them.
    if (lastError == ERROR_DOWNLOAD) {
        wxLogError("Update stopped, download error.");
        notifier->SetErrorStatus(_("Could not download update data."));
        return "UNKNOWN_ERROR";
    }
    wxLogError("Unknown error.");
    notifier->SetErrorStatus(_("An unknown error happened. Please contact support."));
    return "UNKNOWN_ERROR";
}

void UpdateEngine::EndStopped(const wxString& result)
{
    SendFinished(result);
    localVersion = INVALID_VERSION;
    WriteLocalVersion();
    localManifest.SaveDefault();
    notifier->PostUpdateStopped();
}
