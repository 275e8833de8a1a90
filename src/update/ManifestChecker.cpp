#include "update/ManifestChecker.h"

#include "common/Cancellation.h"
#include "common/VersionText.h"
#include "download/HTTPWrapper.h"
#include "progress/ProgressNotifier.h"
#include "telemetry/TelemetryClient.h"
#include "update/DownloadPlan.h"
#include "update/FileDownload.h"
#include "update/InstalledFiles.h"
#include "update/ManifestUpdater.h"
#include "update/ResumeFile.h"
#include "update/UpdateContext.h"
#include "update/VersionFile.h"
#include "update/VersionQuery.h"

#include <wx/intl.h>
#include <wx/log.h>

#include <chrono>

namespace {

const wxString INVALID_REMOTE_VERSION = "invalid_remote";

} // namespace

ManifestChecker::ManifestChecker(const UpdateContext& context, VersionFile& versionFile,
                                 InstalledFiles& installed)
    : context(context), versionFile(versionFile), installed(installed)
{
    remoteManifest.SetSession(&serverSession);
}

void ManifestChecker::Check()
{
    // The records of an earlier list go away with the manifests reloaded below.
    mismatches.clear();
    verifiedManifestUrl.clear();
    refusal.clear();
    lastError = ERROR_NONE;
    wxLogMessage("Starting local checks.");
    if (context.telemetry != nullptr) {
        context.telemetry->SetVersion(versionFile.GetLocalVersion());
        context.telemetry->SendEvent("updater_started");
    }
    if (EndIfKeyUnusable())
        return;
    // Without an answer nothing is known about the release: a stop leaves
    // the installation exactly as it was.
    const bool answered = ReadRemoteVersion();
    if (!answered && EndIfStopped())
        return;
    if (!answered && !remoteVersionRefusal.empty()) {
        EndWithoutRelease(remoteVersionRefusal);
        return;
    }
    if (!answered || !IsRemoteVersionValid()) {
        wxLogError("Could not read remote version.");
        EndWithoutRelease(_("Could not find remote version."));
        return;
    }
    // A full check goes the way of a new release, which hashes every file that changed.
    const bool newVersion = IsNewVersion() || context.fullCheck;
    if (newVersion) {
        if (context.fullCheck)
            wxLogMessage("Checking every file against version %s.", remoteVersion);
        else
            wxLogMessage("New version found: %s", remoteVersion);
        // A signed release is verified before anything is written for it.
        if (context.releaseKey && !DownloadReleaseManifest())
            return;
    } else if (!FindMissingFilesOfThisRelease()) {
        return;
    }
    if (!MarkUpdateBegun())
        return;
    if (newVersion)
        installed.UpdateLocalManifest(*context.notifier, context.fullCheck);
    if (EndIfStopped() || !DownloadReleaseManifest() || EndIfStopped())
        return;
    if (newVersion) {
        installed.CleanLocalManifest(remoteMap);
        wxLogVerbose("Remote manifest contais %d items.", static_cast<int>(remoteManifest.size()));
        mismatches = CompareManifests();
    }
    if (!mismatches.empty()) {
        wxLogMessage("Mismatches: %d", static_cast<int>(mismatches.size()));
        context.notifier->PostStartUpdate();
        return;
    }
    wxLogMessage("No mismatches found.");
    versionFile.WriteLocalVersion(remoteVersion);
    EndUpToDate(_("No changes found. Click play to start the game."));
}

bool ManifestChecker::ReadRemoteVersion()
{
    const wxString url = context.baseUrl + wxString::Format("version-win-%s.php", context.languageCode);
    wxLogMessage("Reading remote version from: %s", url);
    remoteVersionTimedOut = false;
    remoteVersionRefusal.clear();
    const auto giveUpAt = std::chrono::steady_clock::now() + std::chrono::seconds(context.remoteVersionWait);
    for (;;) {
        if (context.IsStopRequested()) {
            wxLogVerbose("Stopped while trying to read remote version.");
            return false;
        }
        context.notifier->SetStatus(_("Reading remote version..."), MESSAGE_INFO);
        const VersionQuery query(url, {.cancellation = &context.StopRequest(), .session = &serverSession});
        if (query.GetOutcome() == VersionQuery::VERSION) {
            remoteVersion = query.GetVersion();
            wxLogMessage("Remote version is: %s", remoteVersion);
            return true;
        }
        // A query cut by a stop is no server error.
        if (context.IsStopRequested())
            continue;
        if (GiveUpOn(query, url))
            return false;
        wxLogError("Error reading remote version. Code: %d", lastError);
        if (context.remoteVersionWait > 0 && std::chrono::steady_clock::now() >= giveUpAt) {
            remoteVersionTimedOut = query.GetOutcome() == VersionQuery::NO_ANSWER;
            if (remoteVersionTimedOut)
                wxLogError("The update server did not answer for %d seconds.", context.remoteVersionWait);
            else
                wxLogError("The update server answered only with errors for %d seconds.",
                           context.remoteVersionWait);
            return false;
        }
        context.notifier->SetErrorStatus(
            wxString::Format(_("Error reading remote version. Retrying in %d seconds."), 1));
        context.StopRequest().Sleep(std::chrono::seconds(1));
    }
}

bool ManifestChecker::GiveUpOn(const VersionQuery& query, const wxString& url)
{
    switch (query.GetOutcome()) {
    case VersionQuery::TLS_FAILURE:
        remoteVersionRefusal = _("Could not connect securely to the update server.");
        return true;
    case VersionQuery::NOT_A_VERSION:
        wxLogError("The update server's answer is not a version: status %ld, %s: %s", query.GetStatus(), url,
                   query.GetProblem());
        remoteVersionRefusal = _("The update server's answer is not a release. Please contact support.");
        return true;
    case VersionQuery::SERVER_ERROR:
        wxLogError("The update server answered with status %ld: %s", query.GetStatus(), url);
        return false;
    default:
        return false;
    }
}

bool ManifestChecker::IsNewVersion() const
{
    return versionFile.GetLocalVersion() != remoteVersion;
}

bool ManifestChecker::IsRemoteVersionValid() const
{
    return remoteVersion != INVALID_REMOTE_VERSION;
}

bool ManifestChecker::FindMissingFilesOfThisRelease()
{
    wxLogVerbose("Checking local files for missing files");
    installed.ReloadLocalManifest();
    // The release's manifest is needed only to fetch what is missing.
    if (installed.HasMissingFiles()) {
        // Entries for the files put back must update their records, not add copies.
        installed.UpdateLocalMap();
        const bool loaded = LoadRemoteManifest();
        // A manifest cut short by a stop would make every file look present.
        if (EndIfStopped())
            return false;
        if (!loaded && ReleaseRefused()) {
            EndWithoutManifest();
            return false;
        }
        mismatches = FindMissingFiles();
    }
    if (mismatches.empty()) {
        wxLogMessage("No new version found.");
        context.notifier->SetRange(100);
        EndUpToDate(_("Click play to start the game."));
        return false;
    }
    wxLogMessage("Local missing files found: %d", static_cast<int>(mismatches.size()));
    return true;
}

bool ManifestChecker::MarkUpdateBegun()
{
    if (context.telemetry != nullptr)
        context.telemetry->SetVersion(remoteVersion);
    if (versionFile.WriteLocalVersion(VersionFile::INVALID))
        return true;
    // Without its guard an interrupted update would pass for a complete one.
    lastError = ERROR_WRITE;
    context.SendFinished(AnnounceStop(context, lastError));
    context.notifier->PostUpdateStopped();
    return false;
}

bool ManifestChecker::LoadRemoteManifest()
{
    const wxString url = context.baseUrl + remoteVersion + ".xml.gz";
    bool loaded = true;
    if (!context.releaseKey) {
        loaded = remoteManifest.Load(url, context.notifier);
    } else if (url != verifiedManifestUrl) {
        loaded =
            remoteManifest.LoadSigned(url, *context.releaseKey, context.notifier) && TakesSignedVersion();
        verifiedManifestUrl = loaded ? url : wxString();
    }
    UpdateRemoteMap();
    return loaded;
}

// The version line is not signed: only the manifest's own version tells which release it is.
bool ManifestChecker::TakesSignedVersion()
{
    const wxString& signedVersion = remoteManifest.GetVersion();
    if (signedVersion != remoteVersion) {
        wxLogError("Refused release %s: its signed manifest is the one of version %s.", remoteVersion,
                   signedVersion.empty() ? wxString("(none)") : signedVersion);
        refusal = _("The update data is not the one of the current release. Please contact support.");
    } else if (IsRollback()) {
        wxLogError("Refused release %s: it is older than the installed version %s.", remoteVersion,
                   versionFile.GetLocalVersion());
        refusal =
            _("The update server offers a release older than the installed one. Please contact support.");
    } else {
        return true;
    }
    remoteManifest.clear();
    return false;
}

// While an update is under way the installed release is not known: any is taken.
bool ManifestChecker::IsRollback() const
{
    const wxString& installedVersion = versionFile.GetLocalVersion();
    return versionFile.IsLocalVersionValid() && IsNewerVersion(remoteVersion, installedVersion) &&
           !remoteManifest.AllowsRollback();
}

bool ManifestChecker::EndIfKeyUnusable()
{
    if (!context.releaseKey || context.releaseKey->IsUsable())
        return false;
    wxLogError("Refused every release: the release key in launcher.conf cannot be used.");
    refusal = _("The release key of the launcher's configuration cannot be used. Please contact support.");
    EndWithoutRelease(refusal);
    return true;
}

void ManifestChecker::UpdateRemoteMap()
{
    wxLogVerbose("Updating remote map.");
    remoteMap.clear();
    for (ManifestFileInfo& record : remoteManifest)
        remoteMap[record.name] = &record;
}

bool ManifestChecker::DownloadReleaseManifest()
{
    context.notifier->SetStatus(_("New version found. Downloading update data."));
    if (LoadRemoteManifest())
        return true;
    EndWithoutManifest();
    return false;
}

FileList ManifestChecker::CompareManifests() const
{
    FileList list;
    for (const ManifestFileInfo& remote : remoteManifest) {
        const ManifestFileInfo* local = installed.Find(remote.name);
        wxLogVerbose("%s in local manifest: %s", local != nullptr ? "Found" : "Not found", remote.name);
        // A record outlives its file: a file deleted since, or never put back
        // by an interrupted repair, must be fetched whatever its record says.
        if (local != nullptr && local->checksum.IsSameAs(remote.checksum, false) &&
            installed.IsInPlace(remote)) {
            wxLogVerbose("Info matches: %s", remote.name);
        } else {
            wxLogVerbose("Mismatch found: %s", remote.name);
            auto& record = const_cast<ManifestFileInfo&>(remote);
            // The installed file's digest is fresh: a file the player changed gets no patch.
            if (local != nullptr && installed.IsInPlace(remote) && record.UsePatchFrom(local->checksum))
                wxLogVerbose("Patching %s from %s", remote.name, local->checksum);
            list.push_back(&record);
        }
    }
    SortForDownload(list);
    return list;
}

FileList ManifestChecker::FindMissingFiles()
{
    FileList list;
    for (ManifestFileInfo& local : installed.GetLocalManifest()) {
        if (!installed.IsFileMissing(local.name))
            continue;
        const auto remote = remoteMap.find(local.name);
        const wxString path = installed.FullPath(local.name);
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

bool ManifestChecker::EndIfStopped()
{
    if (!context.IsStopRequested())
        return false;
    wxLogMessage("Stopped local check.");
    context.SendFinished("ABORTED");
    return true;
}

void ManifestChecker::EndWithoutRelease(const wxString& status)
{
    context.notifier->SetErrorStatus(status);
    context.notifier->PostDisablePlay();
    context.SendFinished("ABORTED_GET_REMOTE_VERSION");
}

void ManifestChecker::EndWithoutManifest()
{
    if (EndIfStopped())
        return;
    if (!refusal.empty()) {
        EndWithoutRelease(refusal);
    } else if (ReleaseRefused()) {
        wxLogError("Refused release %s: it is not signed by the publisher.", remoteVersion);
        EndWithoutRelease(_("The update data is not signed by the publisher."));
    } else {
        wxLogError("Could not read download remote manifest.");
        EndWithoutRelease(remoteManifest.result == MANIFEST_TLS_FAILED
                              ? _("Could not connect securely to the update server.")
                              : _("Could not download update data."));
    }
}

void ManifestChecker::EndUpToDate(const wxString& status)
{
    // What an earlier update kept of a file is of no use to a current installation.
    ResumeFile(context.baseDir).KeepOnlyFor({});
    context.notifier->SetStatus(status);
    context.notifier->Complete();
    context.notifier->PostNoChangesFound();
    context.SendFinished("VELORIAN_ALREADY_UPDATED");
}
