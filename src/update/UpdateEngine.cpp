#include "update/UpdateEngine.h"

#include "common/WorkerThread.h"
#include "progress/ProgressNotifier.h"
#include "telemetry/TelemetryClient.h"

#include <wx/log.h>

#include <utility>

UpdateEngine::UpdateEngine(const wxString& baseDir)
    : context(baseDir), versionFile(baseDir), installed(baseDir), checker(context, versionFile, installed),
      updater(context, versionFile, installed)
{
    context.gate = &gate;
}

UpdateEngine::~UpdateEngine()
{
    if (worker) {
        Stop();
        worker->Join();
    }
}

void UpdateEngine::SetProgressNotifier(ProgressNotifier* progress)
{
    context.notifier = progress;
    context.notifier->SetStopRequested(false);
}

void UpdateEngine::SetMaxDownloadRate(int kibPerSecond)
{
    gate.SetRate(static_cast<std::int64_t>(kibPerSecond) * 1024);
}

void UpdateEngine::SetPaused(bool paused)
{
    gate.SetPaused(paused);
    context.notifier->SetPaused(paused);
}

void UpdateEngine::SetBaseUrl(const wxString& url)
{
    context.baseUrl = url.EndsWith("/") ? url : url + "/";
}

int UpdateEngine::GetLastError() const
{
    return updateRanLast ? updater.GetLastError() : checker.GetLastError();
}

void UpdateEngine::StartChecker()
{
    StartWorker([this] { Check(); }, "Error creating thread for local checker.");
}

void UpdateEngine::StartUpdater()
{
    StartWorker([this] { RunUpdate(); }, "Error creating thread for updater.");
}

void UpdateEngine::Check()
{
    updateRanLast = false;
    checker.Check();
}

void UpdateEngine::RunUpdate()
{
    updateRanLast = true;
    updater.RunUpdate(checker.GetMismatches(), checker.GetRemoteVersion());
}

void UpdateEngine::StartWorker(std::function<void()> job, const char* failure)
{
    WaitForWorker();
    context.notifier->SetStopRequested(false);
    worker = std::make_unique<WorkerThread>(std::move(job));
    if (!worker->Start()) {
        wxLogError(failure);
        worker.reset();
    }
}

// The previous worker has posted its last event by the time the next one is
// asked for, so this wait is short.
void UpdateEngine::WaitForWorker()
{
    if (worker) {
        worker->Join();
        worker.reset();
    }
}

void UpdateEngine::Stop()
{
    context.notifier->SetStopRequested(true);
}

bool UpdateEngine::IsWorking() const
{
    return worker && worker->IsRunning();
}

void UpdateEngine::FindChanges(const wxString& pattern)
{
    WaitForWorker();
    if (!installed.RefreshAll()) {
        if (context.telemetry != nullptr)
            context.telemetry->SetChanges(nullptr);
        return;
    }
    const std::optional<wxArrayString> changed = installed.ChangedFiles(pattern);
    if (changed && context.telemetry != nullptr)
        context.telemetry->SetChanges(&*changed);
}
