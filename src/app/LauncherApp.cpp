#include "app/LauncherApp.h"

#include <wx/frame.h>

wxIMPLEMENT_APP(LauncherApp);

LauncherApp::LauncherApp() = default;
LauncherApp::~LauncherApp() = default;

bool LauncherApp::OnInit()
{
    auto* frame = new wxFrame(nullptr, 1, "Launcher", wxDefaultPosition, wxDefaultSize,
                              wxCAPTION | wxSYSTEM_MENU | wxMINIMIZE_BOX | wxCLOSE_BOX);
    SetTopWindow(frame);
    frame->Show();
    return true;
}

int LauncherApp::OnExit()
{
    return 0;
}
