#include "telemetry/AsyncLogUploader.h"

#include "telemetry/TelemetryClient.h"

AsyncLogUploader::AsyncLogUploader(TelemetryClient* client) : wxThread(wxTHREAD_JOINABLE), client(client) {}

wxThread::ExitCode AsyncLogUploader::Entry()
{
    client->RunLogUpload();
    return nullptr;
}
