#pragma once

#include <wx/string.h>

#include <memory>

class InstalledTranslations;
class LauncherConfig;
class AsyncLogUploader;
class ProgressNotifier;
class TelemetryClient;
class UpdateEngine;
class wxEvtHandler;

// What a front end needs to run the update, made and wired the way the
// launcher does it: the player's catalog, the progress channel to the front
// end, the telemetry client, the log upload and the update engine. Destroyed
// in reverse order, so the engine has waited for its worker, and the upload
// for its own, before anything they use goes.
class LauncherServices {
public:
    // target receives every event of the workers and the log upload;
    // workDir holds the catalogs and "client.id".
    LauncherServices(const LauncherConfig& config, wxEvtHandler* target, const wxString& workDir);
    ~LauncherServices();
    LauncherServices(const LauncherServices&) = delete;
    LauncherServices& operator=(const LauncherServices&) = delete;

    ProgressNotifier& Notifier() const { return *notifier; }
    TelemetryClient& Telemetry() const { return *telemetry; }
    AsyncLogUploader& LogUploader() const { return *logUploader; }
    UpdateEngine& Engine() const { return *engine; }

private:
    std::unique_ptr<InstalledTranslations> translations;
    std::unique_ptr<ProgressNotifier> notifier;
    std::unique_ptr<TelemetryClient> telemetry;
    std::unique_ptr<AsyncLogUploader> logUploader;
    std::unique_ptr<UpdateEngine> engine;
};
