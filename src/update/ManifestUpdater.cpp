#include "update/ManifestUpdater.h"

#include "common/Cancellation.h"
#include "common/RetryBursts.h"
#include "platform/DiskSpace.h"
#include "progress/ProgressNotifier.h"
#include "update/DownloadPlan.h"
#include "update/FileDownload.h"
#include "update/InstalledFiles.h"
#include "update/UpdateContext.h"
#include "update/VersionFile.h"

#include <wx/intl.h>
#include <wx/log.h>

#include <chrono>
#include <utility>

namespace {

// Failed downloads in a row before the update pauses.
constexpr int ATTEMPTS_PER_BURST = 10;
// A file that fails its digest in this many series of retries in a row is
// damaged in the release itself: retrying for ever cannot help.
constexpr int MAX_CORRUPT_SERIES = 3;

} // namespace

ManifestUpdater::ManifestUpdater(const UpdateContext& context, VersionFile& versionFile,
                                 InstalledFiles& installed)
    : context(context), versionFile(versionFile), installed(installed)
{
}

void ManifestUpdater::RunUpdate(FileList& mismatches, const wxString& remoteVersion)
{
    wxLogMessage("Update started.");
    context.notifier->SetStatus(_("Updating files."), MESSAGE_INFO);
    context.notifier->PostUpdateStarted();
    if (!HasRoomFor(mismatches)) {
        EndStopped("DOWNLOAD_WRITING_ERROR");
        return;
    }
    if (DownloadWithRetries(mismatches))
        FinishUpdate(mismatches, remoteVersion);
    else
        EndStopped(AnnounceStop(context, lastError));
}

bool ManifestUpdater::DownloadWithRetries(FileList& mismatches)
{
    FileDownload download(context, installed);
    RetryBursts retries(ATTEMPTS_PER_BURST);
    wxString seriesCorrupt; // the file that failed its digest in this series of retries
    wxString repeatedCorrupt;
    int corruptSeries = 0; // series in a row in which repeatedCorrupt failed its digest
    bool ok = download.DownloadFiles(mismatches);
    lastError = download.GetLastError();
    while (!ok && lastError == ERROR_DOWNLOAD && !context.IsStopRequested()) {
        const int pause = retries.Fail();
        if (!download.CorruptFile().empty())
            seriesCorrupt = download.CorruptFile();
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
                return false;
            }
            wxLogError(wxString::Format(_("Update stopped 10 times, download error. Retrying in %d seconds."),
                                        pause));
            context.notifier->SetErrorStatus(
                wxString::Format(_("Error while downloading update... retrying in %d seconds."), pause));
            context.StopRequest().Sleep(std::chrono::seconds(pause));
        }
        ok = download.DownloadFiles(mismatches);
        lastError = download.GetLastError();
    }
    return ok;
}

bool ManifestUpdater::HasRoomFor(const FileList& list)
{
    std::uint64_t free = 0;
    if (!platform::GetFreeDiskSpace(context.baseDir, free))
        return true;
    const std::uint64_t needed = SpaceNeeded(list, installed);
    if (needed <= free)
        return true;
    wxLogError("Not enough free space in %s: the update needs %llu bytes, %llu are free.", context.baseDir,
               static_cast<unsigned long long>(needed), static_cast<unsigned long long>(free));
    const wxString format(_("Not enough disk space: the update needs %s, but only %s are free."));
    context.notifier->SetErrorStatus(wxString::Format(format, SizeText(static_cast<std::int64_t>(needed)),
                                                      SizeText(static_cast<std::int64_t>(free))));
    lastError = ERROR_WRITE;
    return false;
}

void ManifestUpdater::FinishUpdate(FileList& mismatches, const wxString& remoteVersion)
{
    wxLogVerbose("Mismatches left: %d", static_cast<int>(mismatches.size()));
    mismatches.clear();
    installed.GetLocalManifest().SaveDefault();
    versionFile.WriteLocalVersion(remoteVersion);
    wxLogMessage("Update done.");
    context.notifier->PostUpdateFinished();
    context.SendFinished("VELORIAN_UPDATED");
}

void ManifestUpdater::EndStopped(const wxString& result)
{
    context.SendFinished(result);
    versionFile.WriteLocalVersion(VersionFile::INVALID);
    installed.GetLocalManifest().SaveDefault();
    context.notifier->PostUpdateStopped();
}

wxString AnnounceStop(const UpdateContext& context, int lastError)
{
    ProgressNotifier& notifier = *context.notifier;
    if (context.IsStopRequested() || lastError == ERROR_NONE) {
        wxLogWarning("Update stopped.");
        notifier.SetStatus(_("Update stopped."), MESSAGE_INFO);
        return "ABORTED";
    }
    if (lastError == ERROR_WRITE) {
        wxLogError("Update stopped, write error.");
        notifier.SetErrorStatus(_("Error writing to files. Please check file permissions and try again."));
        return "DOWNLOAD_WRITING_ERROR";
    }
    // Download failures are retried; only a release that stays damaged ends them.
    if (lastError == ERROR_DOWNLOAD) {
        wxLogError("Update stopped, download error.");
        notifier.SetErrorStatus(_("Could not download update data."));
        return "UNKNOWN_ERROR";
    }
    wxLogError("Unknown error.");
    notifier.SetErrorStatus(_("An unknown error happened. Please contact support."));
    return "UNKNOWN_ERROR";
}
