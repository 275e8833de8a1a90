#include "app/LauncherStartup.h"

#include "app/InstanceLock.h"
#include "download/NetworkSettings.h"

#include <curl/curl.h>
#include <wx/filefn.h>
#include <wx/log.h>

LauncherStartup::LauncherStartup() = default;

LauncherStartup::~LauncherStartup()
{
    End();
}

void LauncherStartup::Begin(const wxString& dir)
{
    installDir = dir;
    config.SetDefaults(installDir);
    log.Open(config.logDir, config.startTime);
    wxLogMessage("Logging ready.");
    curl_global_init(CURL_GLOBAL_ALL);
    config.LoadConfig();
    config.logFile = log.FilePath();
    std::optional<std::string> proxy;
    if (config.proxy)
        proxy = config.proxy->utf8_string();
    NetworkSettings::Set(proxy, config.caFile.utf8_string());
    wxLogMessage("Proxy: %s", wxString::FromUTF8(NetworkSettings::DescribeProxy()));
}

bool LauncherStartup::IsInstallationInUse() const
{
    return IsLocked(LAUNCHER_LOCK_PREFIX, installDir) || IsLocked(GAME_LOCK_PREFIX, installDir);
}

bool LauncherStartup::LockInstallation()
{
    lock = CreateRandomLock(LAUNCHER_LOCK_PREFIX, installDir);
    return lock != nullptr;
}

void LauncherStartup::RemoveLock()
{
    if (!lock)
        return;
    // Deleted while still held, so no other process can take the name in between.
    wxRemoveFile(lock->Path());
    lock.reset();
}

void LauncherStartup::End()
{
    lock.reset();
    // Lines that the workers logged last wait for the main thread to write them.
    wxLog::FlushActive();
    log.Close();
}
