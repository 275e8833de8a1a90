// Entry of velorian-update, the launcher's update without a window.
#include "app/UpdateCommand.h"

#include <wx/app.h>
#include <wx/init.h>

#include <cstdio>

int main(int argc, char** argv)
{
    wxInitializer toolkit(argc, argv);
    if (!toolkit.IsOk()) {
        std::fputs("velorian-update: the toolkit could not be initialised\n", stderr);
        return UpdateCommand::EXIT_FAILED;
    }
    // The console application object: this program links no window library.
    wxAppConsole* app = wxAppConsole::GetInstance();
    UpdateCommand command;
    return command.Run(app->argc, app->argv);
}
