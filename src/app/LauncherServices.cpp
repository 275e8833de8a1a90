#include "app/LauncherServices.h"

#include "app/LauncherConfig.h"
#include "app/Translations.h"
#include "progress/ProgressNotifier.h"
#include "telemetry/AsyncLogUploader.h"
#include "telemetry/TelemetryClient.h"
#include "update/UpdateEngine.h"

namespace {

// The key that the telemetry service shares with the launcher.
const char TELEMETRY_SECRET[] = "5e0c9a7b3f1d24e6a8b0c2d4e6f81a3c";

} // namespace

LauncherServices::LauncherServices(const LauncherConfig& config, wxEvtHandler* target,
                                   const wxString& workDir)
    : translations(SetupTranslations(config.languageId, workDir)),
      notifier(std::make_unique<ProgressNotifier>(target)),
      telemetry(std::make_unique<TelemetryClient>(workDir)),
      logUploader(std::make_unique<AsyncLogUploader>(target, *telemetry)),
      engine(std::make_unique<UpdateEngine>(config.baseDir))
{
    telemetry->SetSecret(TELEMETRY_SECRET);
    telemetry->SetServiceUrl(config.uploadUrl);
    engine->SetProgressNotifier(notifier.get());
    engine->SetTelemetry(telemetry.get());
    engine->SetBaseUrl(config.baseUrl);
    engine->SetLanguageCode(config.languageCode);
    engine->SetMaxConnections(config.maxConnections);
    engine->SetMaxDownloadRate(config.maxDownloadRate);
    engine->SetReleaseKey(config.releaseKey);
}

LauncherServices::~LauncherServices() = default;
