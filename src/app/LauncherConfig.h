#pragma once

#include "common/SignatureVerifier.h"

#include <wx/datetime.h>
#include <wx/string.h>

#include <optional>

// Toolkit language identifiers the launcher knows (wxLANGUAGE_* values of the
// toolkit the catalogs were made for).
enum LanguageId : int {
    LANGUAGE_NONE = 0,
    LANGUAGE_ENGLISH = 56,
    LANGUAGE_PORTUGUESE_BRAZILIAN = 151,
};

// Directory of the running executable, without a trailing separator.
wxString GetExecutableDir();

// Short code of a language: "draft" (no translation), "en", "pt"; empty for others.
wxString LanguageCode(int languageId);

// The settings of one run: built-in defaults, launcher.conf, user.conf and what
// start-up found out. Copied by value into the main window.
class LauncherConfig {
public:
    int languageId;
    wxString languageCode;
    // Where launcher.conf, user.conf and the first-run marker live: the
    // launcher's own directory, whatever the current directory or baseDir.
    wxString settingsDir;
    // When this run started; names the run's log files.
    wxDateTime startTime;
    wxString baseDir;
    wxString logDir;
    wxString logFile;
    wxString baseUrl;
    wxString newsUrl;
    wxString uploadUrl;
    wxString gameExecutable;
    wxString resolution;
    wxString quality;
    bool fullscreen;
    bool miniBrowserOnly;
    bool gameRunning;
    int minSysMemoryMB;
    wxString problemsUrl;
    // launcher.conf is missing or unreadable, or names a server, proxy or CA file that cannot be used.
    bool configMissing;
    bool firstRun;
    // The publisher's public key; none when releases are taken unsigned, an
    // unusable one when launcher.conf holds a key that does not decode.
    std::optional<SignatureVerifier> releaseKey;
    // How many connections the update's download opens to the server at once.
    int maxConnections;
    // The cap on the update's download, all connections together, in KiB/s; 0 for none.
    int maxDownloadRate;
    // The proxy of every request: none to take the environment's, empty for none at all.
    std::optional<wxString> proxy;
    // The publisher's own certificate authorities, trusted in place of the system's; empty for the system's.
    wxString caFile;

    LauncherConfig();

    // installDir holds the settings files and the logs: the launcher's own directory,
    // or the installation a tool works on.
    void SetDefaults(const wxString& installDir = GetExecutableDir());
    // Reads launcher.conf, then user.conf, from settingsDir.
    void LoadConfig();
    // Writes the player's choices back to settingsDir/user.conf, keeping entries it does not know.
    bool SaveUserConfig() const;
    // Creates the marker file "firstRun" in settingsDir if it is missing.
    void CreateFirstRunMarker() const;

private:
    void ReadLauncherConf(class wxFileConfig& conf);
    void ReadNetworkSettings(const class wxFileConfig& conf);
    void ReadDownloadRate(const class wxFileConfig& conf);
    // A present setting that cannot be used stops the update as a missing launcher.conf does.
    void RefuseSetting(const char* key);
    void ReadUserConf(class wxFileConfig& conf);

    // maxDownloadRate as launcher.conf has it.
    int publisherDownloadRate;
};
