#include "selfupdate/SelfUpdateFiles.h"

#include "platform/Process.h"

#include <wx/filename.h>
#include <wx/log.h>

wxString LauncherVersionUrl(const wxString& baseUrl)
{
    return baseUrl + "launcherVersion.inf";
}

wxString LauncherBuildUrl(const wxString& baseUrl, const wxString& languageCode, const wxString& version)
{
    return baseUrl + wxString::Format("launcher.%s.%s.exe", languageCode, version);
}

std::string LauncherSignedPrefix(const wxString& version)
{
    return "velorian-launcher " + version.utf8_string() + "\n";
}

wxString LauncherVersionSignedName(const wxString& buildUrl)
{
    return buildUrl + ".version";
}

wxString SelfUpdateFilePath(const wxString& exeDir)
{
    return wxFileName(exeDir, "launcher_new.exe").GetFullPath();
}

long RunSelfUpdate(const wxString& exeDir, bool afterThisEnds)
{
    const wxString path = SelfUpdateFilePath(exeDir);
    wxLogMessage("Starting new launcher: %s", path);
    if (afterThisEnds)
        return platform::StartDetached({path, "--relaunch"});
    return platform::StartDetached({path});
}
