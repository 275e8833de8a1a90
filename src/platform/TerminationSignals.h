#pragma once

#include <functional>

class wxEventLoopBase;
class wxEventLoopSource;

namespace platform {

// Catches the requests to end the process (SIGTERM, SIGINT) and runs onSignal
// for each on the given event loop, so the program can end the normal way.
// Null if that could not be set up; otherwise the caller owns the source.
wxEventLoopSource* WatchTerminationSignals(wxEventLoopBase& loop, std::function<void()> onSignal);

} // namespace platform
