#include "update/UpdateContext.h"

#include "progress/ProgressNotifier.h"
#include "telemetry/TelemetryClient.h"

bool UpdateContext::IsStopRequested() const
{
    return notifier->IsStopRequested();
}

const Cancellation& UpdateContext::StopRequest() const
{
    return notifier->GetCancellation();
}

void UpdateContext::SendFinished(const wxString& result) const
{
    if (telemetry != nullptr)
        telemetry->SendEvent("updater_finished", result);
}
