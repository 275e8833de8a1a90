#include "platform/Terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

bool platform::IsOutputTerminal()
{
    return isatty(STDOUT_FILENO) == 1;
}

int platform::OutputTerminalColumns()
{
    winsize size = {};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}
