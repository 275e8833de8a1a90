#include "selfupdate/SelfUpdater.h"

#include "common/RetryBursts.h"
#include "common/VersionText.h"
#include "download/BoundedInputStream.h"
#include "download/HTTPWrapper.h"
#include "download/ProgressInputStream.h"
#include "platform/AtomicFile.h"
#include "platform/DiskSpace.h"
#include "progress/ProgressNotifier.h"
#include "selfupdate/SelfUpdateFiles.h"

#include <wx/file.h>
#include <wx/filefn.h>
#include <wx/intl.h>
#include <wx/log.h>
#include <wx/wfstream.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <memory>

namespace {

// Failed attempts come in bursts of eleven in a row.
constexpr int ATTEMPTS_PER_BURST = 11;

// _() hands out the shared catalog's string, which formatting would modify: format a copy.
wxString FormatTranslated(const wxString& translated, int value)
{
    return wxString::Format(wxString(translated), value);
}

} // namespace

SelfUpdater::SelfUpdater(ProgressNotifier* notifier, const wxString& currentVersion,
                         const wxString& languageCode, const wxString& baseUrl, const wxString& targetFile,
                         std::optional<SignatureVerifier> releaseKey)
    : notifier(notifier), currentVersion(currentVersion), languageCode(languageCode), baseUrl(baseUrl),
      targetFile(targetFile), releaseKey(releaseKey), worker([this] { Entry(); })
{
}

SelfUpdater::~SelfUpdater()
{
    Stop();
    Join();
}

bool SelfUpdater::Start()
{
    return worker.Start();
}

void SelfUpdater::Stop()
{
    cancellation.Request();
}

bool SelfUpdater::Pause(int seconds)
{
    return cancellation.Sleep(std::chrono::seconds(seconds));
}

void SelfUpdater::Entry()
{
    wxLogMessage("Starting self update, current launcher version is %s", currentVersion);
    if (releaseKey && !releaseKey->IsUsable()) {
        wxLogError("No launcher update: the release key in launcher.conf cannot be used.");
        notifier->SetErrorStatus(
            _("The release key of the launcher's configuration cannot be used. Please contact support."));
        notifier->PostSelfUpdateDone(SELF_UPDATE_NOT_NEEDED);
        return;
    }
    const int result = CheckForNewVersion() ? DownloadWithRetries() : SELF_UPDATE_NOT_NEEDED;
    notifier->PostSelfUpdateDone(result);
}

bool SelfUpdater::CheckForNewVersion()
{
    const wxString url = LauncherVersionUrl(baseUrl);
    wxLogMessage("Searching for new launcher version at '%s'", url);
    if (!FetchRemoteVersion(url))
        return false;
    remoteVersion.Trim(true).Trim(false);
    wxLogMessage("Launcher remote version is %s", remoteVersion);
    return IsNewerVersion(currentVersion, remoteVersion);
}

bool SelfUpdater::FetchRemoteVersion(const wxString& url)
{
    RetryBursts retries(ATTEMPTS_PER_BURST);
    for (;;) {
        if (cancellation.IsRequested()) {
            wxLogVerbose("Self update thread is being deleted.");
            return false;
        }
        notifier->SetStatus(_("Checking for launcher updates..."), MESSAGE_INFO);
        if (FetchFirstLine(remoteVersion, url, {.cancellation = &cancellation}))
            return true;
        if (const int pause = retries.Fail(); pause > 0) {
            wxLogError("Error checking remote launcher version. URL: %s", url);
            notifier->SetErrorStatus(
                FormatTranslated(_("Error checking launcher update. Will retry in %d seconds..."), pause));
            Pause(pause);
        }
    }
}

int SelfUpdater::DownloadWithRetries()
{
    RetryBursts retries(ATTEMPTS_PER_BURST);
    for (;;) {
        notifier->SetStatus(_("downloading launcher update..."), MESSAGE_INFO);
        const int result = DownloadLauncher();
        if (result == SELF_UPDATE_DOWNLOADED || cancellation.IsRequested() || refused) {
            wxLogVerbose("Exiting self update thread.");
            return result;
        }
        if (const int pause = retries.Fail(); pause > 0) {
            notifier->SetErrorStatus(
                FormatTranslated(_("Error downloading launcher update. Retrying in %d seconds."), pause));
            if (!Pause(pause)) {
                wxLogVerbose("Exiting self update thread.");
                return SELF_UPDATE_FAILED;
            }
        }
    }
}

int SelfUpdater::DownloadLauncher()
{
    const wxString url = LauncherBuildUrl(baseUrl, languageCode, remoteVersion);
    wxLogMessage("Downloading: %s", url);
    refused = false;
    const std::unique_ptr<wxInputStream> body = OpenGet(url, {.cancellation = &cancellation});
    if (!body)
        return SELF_UPDATE_FAILED;
    const wxFileOffset size = body->GetLength();
    const std::optional<std::uint64_t> limit = DownloadLimit(size);
    if (!limit) {
        refused = true;
        return SELF_UPDATE_FAILED;
    }
    notifier->SetRange(static_cast<int>(std::clamp<wxFileOffset>(size, 0, std::numeric_limits<int>::max())));
    ProgressInputStream counted(body.get(), notifier);
    // Nothing checks the bytes before they are all there: an endless body must not fill the disk first.
    BoundedInputStream bounded(&counted, *limit);
    if (SaveLauncher(*body, bounded, url))
        return SELF_UPDATE_DOWNLOADED;
    if (bounded.GetLastError() == wxSTREAM_READ_ERROR && body->GetLastError() != wxSTREAM_READ_ERROR) {
        wxLogError("The launcher update is larger than %llu bytes; the download was stopped: %s",
                   static_cast<unsigned long long>(*limit), url);
        refused = true;
    }
    return SELF_UPDATE_FAILED;
}

std::optional<std::uint64_t> SelfUpdater::DownloadLimit(wxFileOffset announced) const
{
    std::uint64_t limit = MAX_LAUNCHER_BYTES;
    std::uint64_t free = 0;
    if (platform::GetFreeDiskSpace(wxPathOnly(targetFile), free))
        limit = std::min(limit, free);
    if (announced < 0)
        return limit;
    if (static_cast<std::uint64_t>(announced) <= limit)
        return static_cast<std::uint64_t>(announced);
    wxLogError("The launcher update of %lld bytes does not fit: at most %llu bytes can be written.",
               static_cast<long long>(announced), static_cast<unsigned long long>(limit));
    return std::nullopt;
}

// The body goes to a file beside the target, which it replaces only once
// the whole body has arrived and is on disk: a launcher cut short is never
// found, let alone started, at the next start.
bool SelfUpdater::SaveLauncher(wxInputStream& body, wxInputStream& bounded, const wxString& url)
{
    const wxString partial = targetFile + ".part";
    wxFile file;
    bool written = false;
    {
        wxLogNull quiet; // the lines below say what failed
        // A leftover of an earlier run would keep its own permissions.
        wxRemoveFile(partial);
        // Created runnable: it is a program that the next start may hand over to.
        written =
            file.Create(partial, true,
                        wxS_DEFAULT | wxPOSIX_USER_EXECUTE | wxPOSIX_GROUP_EXECUTE | wxPOSIX_OTHERS_EXECUTE);
        if (written) {
            wxFileOutputStream output(file);
            output.Write(bounded);
            written = output.GetLastError() == wxSTREAM_NO_ERROR;
        }
        written = written && file.Flush() && file.Close();
    }
    if (body.GetLastError() == wxSTREAM_READ_ERROR) {
        wxLogError("Could not read from input stream.");
    } else if (bounded.GetLastError() == wxSTREAM_READ_ERROR) {
        // Said why by the caller.
    } else if (!written) {
        wxLogError("Could not write to file %s", targetFile);
    } else if (releaseKey && !KeepSignature(url, partial)) {
        // Said why already; the launcher is not kept.
    } else if (!wxRenameFile(partial, targetFile)) {
        wxLogError("Could not write to file %s", targetFile);
    } else {
        wxLogMessage("New launcher saved to: %s", targetFile);
        return true;
    }
    wxRemoveFile(partial);
    return false;
}

// The signature goes beside the launcher before the launcher takes its name,
// so that the hand-over never finds one without the other.
bool SelfUpdater::KeepSignature(const wxString& url, const wxString& launcher)
{
    wxString signature;
    if (!FetchSignature(signature, LauncherVersionSignedName(url), {.cancellation = &cancellation}))
        return false;
    if (!releaseKey->VerifyFile(LauncherSignedPrefix(remoteVersion), launcher, signature.utf8_string())) {
        wxLogError("The launcher update is not signed with the release key: %s", url);
        refused = true;
        return false;
    }
    return platform::WriteFileAtomically(SignatureVerifier::SignatureFilePath(targetFile),
                                         signature.utf8_string() + "\n");
}
