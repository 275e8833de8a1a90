#pragma once

namespace platform {

// True when the standard output goes to a terminal rather than a file or a pipe.
bool IsOutputTerminal();

// Width in columns of the terminal on the standard output; 0 when unknown.
int OutputTerminalColumns();

} // namespace platform
