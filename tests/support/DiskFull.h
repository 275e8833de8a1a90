#pragma once

#include <functional>

// Runs body in a child process whose files cannot grow beyond limitBytes, the
// way a full disk cuts a write short, and returns the child's exit code (-1
// when it did not exit normally). The toolkit's logging is off in the child.
int RunWithDiskFullAfter(long limitBytes, const std::function<int()>& body);
