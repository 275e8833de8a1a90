#include "platform/TerminationSignals.h"

#include <wx/evtloop.h>
#include <wx/evtloopsrc.h>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

// Runs in signal context: only an async-signal-safe write to the pipe.
void NoteSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] ssize_t written = write(signalPipe[1], &byte, 1);
}

class SignalPipeHandler : public wxEventLoopSourceHandler {
public:
    explicit SignalPipeHandler(std::function<void()> onSignal) : onSignal(std::move(onSignal)) {}

    void OnReadWaiting() override
    {
        char bytes[16];
        while (read(signalPipe[0], bytes, sizeof bytes) > 0)
            onSignal();
    }
    void OnWriteWaiting() override {}
    void OnExceptionWaiting() override {}

private:
    std::function<void()> onSignal;
};

} // namespace

wxEventLoopSource* platform::WatchTerminationSignals(wxEventLoopBase& loop, std::function<void()> onSignal)
{
    if (signalPipe[0] >= 0 || pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return nullptr;
    // The handler lives as long as the process: the signals may come at any time.
    static SignalPipeHandler handler(std::move(onSignal));
    wxEventLoopSource* source = loop.AddSourceForFD(signalPipe[0], &handler, wxEVENT_SOURCE_INPUT);
    if (source == nullptr)
        return nullptr;

    struct sigaction action = {};
    action.sa_handler = NoteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    return source;
}
