#pragma once

#include <wx/thread.h>

class TelemetryClient;

// The thread that uploads the client's log files. Joinable: the client that
// starts it waits for it and deletes it.
class AsyncLogUploader : public wxThread {
public:
    // client must outlive the thread.
    explicit AsyncLogUploader(TelemetryClient* client);

protected:
    ExitCode Entry() override;

private:
    TelemetryClient* const client;
};
