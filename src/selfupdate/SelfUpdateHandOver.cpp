#include "selfupdate/SelfUpdateHandOver.h"

#include "common/VersionText.h"
#include "download/HTTPWrapper.h"
#include "platform/FileStatus.h"
#include "platform/Process.h"
#include "selfupdate/SelfUpdateFiles.h"

#include <wx/ffile.h>
#include <wx/filefn.h>
#include <wx/intl.h>
#include <wx/log.h>
#include <wx/utils.h>

#include <utility>

namespace {

constexpr int REMOVE_ATTEMPTS = 101;
constexpr int REMOVE_INTERVAL_MS = 100;

} // namespace

SelfUpdateHandOver::SelfUpdateHandOver(const wxString& exeDir, const wxString& currentVersion,
                                       const wxString& baseUrl, const wxString& languageCode,
                                       std::optional<SignatureVerifier> releaseKey, AskUser askUser)
    : exeDir(exeDir), selfUpdateFile(SelfUpdateFilePath(exeDir)), currentVersion(currentVersion),
      baseUrl(baseUrl), languageCode(languageCode), releaseKey(releaseKey), askUser(std::move(askUser))
{
}

bool SelfUpdateHandOver::HandleLocalLauncherUpdate() const
{
    if (!wxFileExists(selfUpdateFile)) {
        wxLogMessage("Local launcher installer not found, will run launcher normally.");
        return false;
    }
    wxLogMessage("Launcher update found locally, will check if this launcher executable must be updated.");
    // The downloaded launcher runs from that file: removing it would bring
    // the old launcher back at the next start, and starting it would start
    // this process again.
    if (platform::IsRunningExecutable(selfUpdateFile)) {
        wxLogMessage("This launcher runs from the local launcher installer, will keep it and run normally.");
        return false;
    }
    const wxString remoteVersion = FetchRemoteLauncherVersion();
    if (remoteVersion.IsSameAs(currentVersion, false)) {
        wxLogMessage("Launcher executable is already up to date, will remove local launcher installer.");
        RemoveSelfUpdateFile();
        return false;
    }
    // The version answer is not signed: it must not bring an older launcher back.
    if (releaseKey && !IsNewerVersion(currentVersion, remoteVersion)) {
        wxLogWarning("The update server names launcher version %s, not newer than this one, will remove the "
                     "local launcher installer.",
                     remoteVersion);
        RemoveSelfUpdateFile();
        return false;
    }
    wxLogMessage(
        "This launcher executable is obsolete, will check if the local launcher update is the latest one.");
    return RunIfSameSize(remoteVersion);
}

// An interrupted download is shorter than the server's file; an older
// download is, most likely, of another size too.
bool SelfUpdateHandOver::RunIfSameSize(const wxString& remoteVersion) const
{
    platform::FileStatus local;
    const wxInt64 localSize = platform::GetFileStatus(selfUpdateFile, local) ? wxInt64(local.size) : -1;
    const wxInt64 remoteSize = GetRemoteLauncherSize(remoteVersion);
    if (remoteSize < 0 || localSize != remoteSize) {
        wxLogMessage(
            "Local launcher installer and the latest installer from update site differs in size, will "
            "consider the local one to be obsolete and remove it. LocalSize=%lld RemoteSize=%u",
            static_cast<long long>(localSize), static_cast<unsigned>(remoteSize));
        RemoveSelfUpdateFile();
        return false;
    }
    // Verified again: the file may have changed since it was downloaded.
    if (releaseKey && !IsSignedByPublisher(remoteVersion)) {
        wxLogWarning("Local launcher installer is not signed by the publisher, will remove it.");
        RemoveSelfUpdateFile();
        return false;
    }
    wxLogMessage("Local launcher installer and the latest installer from update have the same size, will "
                 "consider it the same and launch it.");
    askUser(_("Found self-update, launcher needs to be restarted."), _("Launcher"),
            wxOK | wxICON_INFORMATION);
    if (RunSelfUpdate(exeDir) != 0)
        return true;
    askUser(_("Could not run self-update, please contact support."), _("Launcher"), wxOK | wxICON_ERROR);
    return false;
}

bool SelfUpdateHandOver::IsSignedByPublisher(const wxString& version) const
{
    const wxString signatureFile = SignatureVerifier::SignatureFilePath(selfUpdateFile);
    wxString signature;
    wxFFile file;
    {
        wxLogNull quiet; // a missing signature is what the caller reports
        if (!wxFileExists(signatureFile) || !file.Open(signatureFile, "rb") || !file.ReadAll(&signature))
            return false;
    }
    return releaseKey->VerifyFile(LauncherSignedPrefix(version), selfUpdateFile, signature.utf8_string());
}

wxString SelfUpdateHandOver::FetchRemoteLauncherVersion() const
{
    wxString version;
    if (!FetchFirstLine(version, LauncherVersionUrl(baseUrl)))
        return wxString();
    version.Trim(true).Trim(false);
    // It becomes part of a URL: a hostile answer counts as none.
    return LooksLikeVersion(version) ? version : wxString();
}

wxInt64 SelfUpdateHandOver::GetRemoteLauncherSize(const wxString& version) const
{
    const wxString url = LauncherBuildUrl(baseUrl, languageCode, version);
    wxLogMessage("Will call url=%s", url);
    return GetRemoteFileSize(url);
}

void SelfUpdateHandOver::RemoveSelfUpdateFile() const
{
    wxLogVerbose("Removing selfupdate file.");
    // Its signature goes too: it would vouch for nothing.
    const wxString signatureFile = SignatureVerifier::SignatureFilePath(selfUpdateFile);
    if (wxFileExists(signatureFile))
        wxRemoveFile(signatureFile);
    for (int attempt = 0; attempt < REMOVE_ATTEMPTS; ++attempt) {
        if (attempt > 0)
            wxMilliSleep(REMOVE_INTERVAL_MS);
        if (!wxFileExists(selfUpdateFile) || wxRemoveFile(selfUpdateFile))
            return;
    }
    wxLogWarning("Launcher failed removing auto-update file: %s. Will launch anyway.\n", selfUpdateFile);
}
