#include "app/LauncherConfig.h"

#include "download/HTTPWrapper.h"
#include "platform/AtomicFile.h"

#include <wx/ffile.h>
#include <wx/file.h>
#include <wx/fileconf.h>
#include <wx/filename.h>
#include <wx/intl.h>
#include <wx/log.h>
#include <wx/mstream.h>
#include <wx/sstream.h>
#include <wx/stdpaths.h>
#include <wx/uri.h>

#include <algorithm>
#include <climits>
#include <iterator>
#include <memory>

namespace {

const char FIRST_RUN_MARKER[] = "firstRun";
// Enough to hide the round trips of a distant server; publishers whose
// servers take fewer set maxConnections lower.
constexpr int DEFAULT_CONNECTIONS = 4;
constexpr long MAX_CONNECTIONS = 8;

// Reads a settings file with its text encoding detected (UTF-8 or UTF-16 with a
// byte-order mark, else the system's); a missing file reads as empty. The file
// is decoded whole here: the toolkit's stream reader cuts UTF-16 text at its
// first zero byte. Zero characters (a file damaged by a crash) are dropped, or
// the toolkit would end a line there when saving and glue the next entry to it.
std::unique_ptr<wxFileConfig> OpenConfigFile(const wxString& path)
{
    wxString text;
    if (wxFileName::FileExists(path)) {
        wxFFile file(path, "rb");
        if (file.IsOpened())
            file.ReadAll(&text, wxConvAuto());
    }
    text.Replace(wxString(wxUniChar(0)), wxString());
    wxStringInputStream stream(text);
    auto conf = std::make_unique<wxFileConfig>(stream, wxConvUTF8);
    // Values such as the news page template hold "${...}" placeholders of our own.
    conf->SetExpandEnvVars(false);
    return conf;
}

// Full path of a settings file; the toolkit would put a relative one in the home directory.
wxString SettingsPath(const wxString& dir, const wxString& name)
{
    wxFileName path(dir, name);
    path.MakeAbsolute();
    return path.GetFullPath();
}

// An integer entry; a missing entry or one that is not a whole number counts as absent.
bool ReadInteger(const wxFileConfig& conf, const wxString& key, long& value)
{
    wxString text;
    return conf.Read(key, &text) && text.Trim().Trim(false).ToLong(&value);
}

// A whole number from least to most, logged as what was found or ignored.
void ReadBoundedInteger(const wxFileConfig& conf, const wxString& key, long least, long most,
                        const char* what, int& value)
{
    long number = 0;
    if (!ReadInteger(conf, key, number))
        return;
    if (number >= least && number <= most) {
        wxLogMessage("Config: Found %s: %ld", what, number);
        value = static_cast<int>(number);
    } else {
        wxLogWarning("Config: Ignoring bad %s: %ld", what, number);
    }
}

bool ReadBool(const wxFileConfig& conf, const wxString& key, bool& value)
{
    long number = 0;
    if (!ReadInteger(conf, key, number))
        return false;
    value = number != 0;
    return true;
}

bool IsReadableFile(const wxString& path)
{
    return wxFileName::FileExists(path) && wxFileName::IsFileReadable(path);
}

// A proxy's URL as libcurl takes it, with the scheme spelled out.
bool IsProxyUrl(const wxString& text)
{
    const wxURI uri(text);
    const wxString schemes[] = {"http", "https", "socks4", "socks4a", "socks5", "socks5h"};
    return uri.HasServer() && !uri.GetServer().empty() &&
           std::find(std::begin(schemes), std::end(schemes), uri.GetScheme()) != std::end(schemes);
}

} // namespace

wxString LanguageCode(int languageId)
{
    switch (languageId) {
    case LANGUAGE_NONE:
        return "draft";
    case LANGUAGE_ENGLISH:
        return "en";
    case LANGUAGE_PORTUGUESE_BRAZILIAN:
        return "pt";
    default:
        return wxString();
    }
}

wxString GetExecutableDir()
{
    return wxFileName(wxStandardPaths::Get().GetExecutablePath()).GetPath(wxPATH_GET_VOLUME);
}

LauncherConfig::LauncherConfig()
{
    SetDefaults();
}

void LauncherConfig::SetDefaults(const wxString& installDir)
{
    settingsDir = installDir;
    startTime = wxDateTime::Now();
    firstRun = !wxFileName::FileExists(SettingsPath(settingsDir, FIRST_RUN_MARKER));
    languageId = LANGUAGE_PORTUGUESE_BRAZILIAN;
    languageCode = LanguageCode(languageId);
    baseDir = installDir;
    logDir = wxFileName(baseDir, "logs").GetFullPath();
    logFile.clear();
    baseUrl = _("http://update.velorian.invalid/vlr2update/");
    newsUrl = _("http://news.velorian.invalid/launcher/?CLIENTID=${clientid}&SESSIONID=${sessionid}"
                "&VERSIONID=${versionid}&FIRSTTIME=${firsttime}");
    uploadUrl = _("http://log.velorian.invalid/vlr_client_side.aspx");
    gameExecutable = _("velorian.exe");
    resolution.clear();
    quality.clear();
    fullscreen = true;
    miniBrowserOnly = false;
    gameRunning = false;
    minSysMemoryMB = 1600;
    problemsUrl = _("http://help.velorian.invalid/faq/categoria/16/problemas-na-instalacao"
                    "?CLIENTID=${clientid}&SESSIONID=${sessionid}");
    configMissing = false;
    releaseKey.reset();
    maxConnections = DEFAULT_CONNECTIONS;
    maxDownloadRate = 0;
    publisherDownloadRate = 0;
    proxy.reset();
    caFile.clear();
}

void LauncherConfig::LoadConfig()
{
    const wxString launcherConfPath = SettingsPath(settingsDir, "launcher.conf");
    const wxString userConfPath = SettingsPath(settingsDir, "user.conf");

    if (!IsReadableFile(launcherConfPath)) {
        configMissing = true;
        wxLogError("Config File %s not found, please contact support.", launcherConfPath);
        return;
    }
    wxLogMessage("Loading config file: %s", launcherConfPath);
    ReadLauncherConf(*OpenConfigFile(launcherConfPath));

    if (IsReadableFile(userConfPath)) {
        wxLogMessage("Loading user config file: %s", userConfPath);
        ReadUserConf(*OpenConfigFile(userConfPath));
    } else {
        wxLogMessage("No user config file found.");
    }
}

void LauncherConfig::ReadLauncherConf(wxFileConfig& conf)
{
    bool debug = false;
    if (ReadBool(conf, "enableLogDebug", debug) && debug) {
        wxLog::SetLogLevel(wxLOG_Max);
        wxLogVerbose("Debug log enabled.");
    }

    wxString text;
    if (conf.Read("baseDir", &text)) {
        if (wxFileName::DirExists(text)) {
            wxLogMessage("Config: Found base directory: %s", text);
            baseDir = text;
        } else {
            wxLogWarning("Config: Ignoring bad base directory: %s", text);
        }
    }

    if (conf.Read("baseUrl", &text)) {
        if (!text.EndsWith("/"))
            text += "/";
        if (HTTPWrapper::IsHttpUrl(text)) {
            wxLogMessage("Config: Found base URL: %s", text);
            baseUrl = text;
        } else {
            wxLogWarning("Config: Ignoring bad base URL: %s", text);
            RefuseSetting("baseUrl");
        }
    }

    struct UrlKey {
        const char* key;
        const char* name;
        wxString* field;
    };
    const UrlKey urlKeys[] = {
        {"newsUrl", "news", &newsUrl},
        {"uploadUrl", "upload", &uploadUrl},
        {"problemsUrl", "problems", &problemsUrl},
    };
    for (const UrlKey& url : urlKeys) {
        if (!conf.Read(url.key, &text))
            continue;
        if (HTTPWrapper::IsHttpUrl(text)) {
            wxLogMessage("Config: Found %s URL: %s", url.name, text);
            *url.field = text;
        } else {
            wxLogWarning("Config: Ignoring bad %s URL: %s", url.name, text);
        }
    }

    if (conf.Read("gameExecutable", &text)) {
        wxFileName executable(text);
        executable.MakeAbsolute(baseDir);
        if (executable.FileExists()) {
            wxLogMessage("Config: Found game executable: %s", text);
            gameExecutable = text;
        } else {
            wxLogWarning("Config: Ignoring bad game executable: %s", text);
        }
    }

    ReadBoundedInteger(conf, "minSysMemoryMB", 1, INT_MAX, "minimum system memory value", minSysMemoryMB);

    if (ReadBool(conf, "useMiniBrowserOnly", miniBrowserOnly) && miniBrowserOnly)
        wxLogWarning("Starting in minibrowser mode.");

    if (conf.Read("releaseKey", &text)) {
        if (const auto key = SignatureVerifier::FromBase64(text.utf8_string())) {
            wxLogMessage("Config: Found release key: %s", text);
            releaseKey = key;
        } else {
            // Ignoring it would take unsigned releases: every update is refused instead.
            wxLogError("Config: The release key cannot be used, no update will be taken: %s", text);
            releaseKey = SignatureVerifier::Unusable();
        }
    }

    ReadBoundedInteger(conf, "maxConnections", 1, MAX_CONNECTIONS, "maximum connections", maxConnections);
    ReadDownloadRate(conf);
    publisherDownloadRate = maxDownloadRate;
    ReadNetworkSettings(conf);
}

void LauncherConfig::ReadNetworkSettings(const wxFileConfig& conf)
{
    wxString text;
    if (conf.Read("proxy", &text)) {
        // Not logged here: the value may hold a password, and start-up logs the proxy in use.
        if (text.empty() || IsProxyUrl(text)) {
            proxy = text;
        } else {
            wxLogWarning("Config: Ignoring bad proxy: %s", text);
            RefuseSetting("proxy");
        }
    }

    if (conf.Read("caFile", &text)) {
        wxFileName file(text);
        file.MakeAbsolute(settingsDir);
        if (IsReadableFile(file.GetFullPath())) {
            wxLogMessage("Config: Found CA file: %s", file.GetFullPath());
            caFile = file.GetFullPath();
        } else {
            wxLogWarning("Config: Ignoring bad CA file: %s", text);
            RefuseSetting("caFile");
        }
    }
}

// The player's choice in user.conf holds over the publisher's in launcher.conf.
void LauncherConfig::ReadDownloadRate(const wxFileConfig& conf)
{
    ReadBoundedInteger(conf, "maxDownloadRate", 0, INT_MAX / 1024, "maximum download rate", maxDownloadRate);
}

void LauncherConfig::RefuseSetting(const char* key)
{
    wxLogError("Config: The setting %s cannot be used, so the launcher does not update.", key);
    configMissing = true;
}

void LauncherConfig::ReadUserConf(wxFileConfig& conf)
{
    wxString text;
    if (conf.Read("resolution", &text)) {
        resolution = text;
        wxLogMessage("Config: Found resolution: %s", resolution);
    }

    if (ReadBool(conf, "fullscreen", fullscreen))
        wxLogMessage("Config: Found full screen setting: %s", fullscreen ? "full screen" : "windowed");
    else
        fullscreen = true;

    if (conf.Read("quality", &text)) {
        quality = text;
        wxLogMessage("Config: Found graphics quality: %s", quality);
    }

    ReadDownloadRate(conf);

    if (conf.HasEntry("language"))
        wxLogWarning("Config: setting language is not supported in this build.");
}

bool LauncherConfig::SaveUserConfig() const
{
    // Entries the launcher does not know are kept; a missing file starts empty.
    // The file goes back where it was read, so a baseDir elsewhere does not
    // lose the player's choices.
    const wxString path = SettingsPath(settingsDir, "user.conf");
    std::unique_ptr<wxFileConfig> conf = OpenConfigFile(path);

    conf->Write("resolution", resolution);
    conf->Write("fullscreen", fullscreen ? 1L : 0L);
    conf->Write("quality", quality);
    conf->Write("language", static_cast<long>(languageId));
    // A choice no different from the publisher's follows the publisher's later ones.
    if (maxDownloadRate != publisherDownloadRate || conf->HasEntry("maxDownloadRate"))
        conf->Write("maxDownloadRate", static_cast<long>(maxDownloadRate));

    wxLogMessage("Saving config file: %s", path);
    wxMemoryOutputStream output;
    if (!conf->Save(output, wxConvUTF8)) {
        wxLogError("Could not save config file: %s", path);
        return false;
    }
    std::string bytes(output.GetLength(), '\0');
    output.CopyTo(bytes.data(), bytes.size());
    return platform::WriteFileAtomically(path, bytes);
}

// Beside the executable rather than in the current directory, which for a
// launcher started from a menu is often the home directory.
void LauncherConfig::CreateFirstRunMarker() const
{
    const wxString path = SettingsPath(settingsDir, FIRST_RUN_MARKER);
    if (wxFileName::FileExists(path))
        return;
    wxFile marker;
    if (marker.Create(path, true, 0666))
        wxLogMessage("Successfully created first-time-executed file at '%s'", path);
    else
        wxLogError("Could not create first-time-executed file, will ignore and continue running. "
                   "Tried to create a file on '%s'",
                   path);
}
