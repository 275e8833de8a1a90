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
// A file that fails its digest, or a request that gets the same error status,
// in this many series of retries in a row is beyond what retrying can mend.
constexpr int MAX_FAILED_SERIES = 3;

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
    wholeDownload = DownloadSize(mismatches);
    // From here the gauge shows this update, not the check's full one.
    ShowProgress(mismatches);
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
    wxString seriesFailure; // how this series of retries failed, when it failed in a way worth comparing
    wxString repeatedFailure;
    int failedSeries = 0; // series in a row that ended with repeatedFailure
    bool ok = download.DownloadFiles(mismatches);
    lastError = download.GetLastError();
    while (!ok && lastError == ERROR_DOWNLOAD && !context.IsStopRequested()) {
        const int pause = retries.Fail();
        if (const wxString failure = RepeatableFailure(download); !failure.empty())
            seriesFailure = failure;
        wxLogError(
            wxString::Format(_("Got %d error while downloading update. Retrying."), retries.Failures()));
        if (pause > 0) {
            failedSeries = seriesFailure.empty()              ? 0
                           : seriesFailure == repeatedFailure ? failedSeries + 1
                                                              : 1;
            repeatedFailure = std::exchange(seriesFailure, wxString());
            if (failedSeries == MAX_FAILED_SERIES)
                return GiveUp(download);
            wxLogError(wxString::Format(_("Update stopped 10 times, download error. Retrying in %d seconds."),
                                        pause));
            CountDown(pause);
        }
        ShowProgress(mismatches);
        ok = download.DownloadFiles(mismatches);
        lastError = download.GetLastError();
    }
    patchedFiles = download.PatchedFiles();
    savedBytes = download.SavedBytes();
    if (patchedFiles > 0)
        wxLogMessage("Files patched: %d, saving %s.", patchedFiles,
                     SizeText(static_cast<std::int64_t>(savedBytes)));
    return ok;
}

// The files installed so far stay on the gauge, and the rate is measured afresh.
void ManifestUpdater::ShowProgress(const FileList& left)
{
    context.notifier->SetRange(wholeDownload, wholeDownload - DownloadSize(left));
    context.notifier->SetStatus(
        _("Updating files. ${bytesLeft} left at ${byteRate}, estimated time: ${timeLeft}"), MESSAGE_INFO);
}

// The status line counts the pause down, so the player sees that the update has not given up.
void ManifestUpdater::CountDown(int seconds)
{
    for (int left = seconds; left > 0; --left) {
        context.notifier->SetErrorStatus(
            wxString::Format(_("Error while downloading update... retrying in %d seconds."), left));
        if (!context.StopRequest().Sleep(std::chrono::seconds(1)))
            return;
    }
}

// A file that fails its digest, or a request that the server answers with the
// same error status: when either repeats series after series, retrying cannot help.
wxString ManifestUpdater::RepeatableFailure(const FileDownload& download)
{
    if (!download.CorruptFile().empty())
        return "corrupt " + download.CorruptFile();
    if (const auto& refused = download.RefusedRequest())
        return wxString::Format("%ld %s", refused->status, wxString::FromUTF8(refused->url));
    return wxString();
}

bool ManifestUpdater::GiveUp(const FileDownload& download)
{
    if (!download.CorruptFile().empty()) {
        wxLogError("%s failed its checksum in %d series of retries: the release is damaged.",
                   download.CorruptFile(), MAX_FAILED_SERIES);
        return false;
    }
    const ParallelDownload::RequestFailure& refused = *download.RefusedRequest();
    wxLogError("The update server answered %ld for %s in %d series of retries: giving up.", refused.status,
               wxString::FromUTF8(refused.url), MAX_FAILED_SERIES);
    lastError = ERROR_REFUSED;
    return false;
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
    if (lastError == ERROR_REFUSED) {
        wxLogError("Update stopped, the update server refused a file of the release.");
        notifier.SetErrorStatus(
            _("The update server does not have the files of this release. Please try again later."));
        return "UNKNOWN_ERROR";
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
