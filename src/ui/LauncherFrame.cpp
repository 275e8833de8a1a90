#include "ui/LauncherFrame.h"

#include "app/Translations.h"

LauncherFrame::LauncherFrame(const LauncherConfig* launcherConfig, wxWindow* parent, wxWindowID id,
                             const wxString& title, const wxPoint& pos, const wxSize& size, long style)
    : wxFrame(parent, id, title, pos, size, style), config(*launcherConfig)
{
    locale = SetupTranslations(config.languageId);
}

LauncherFrame::~LauncherFrame() = default;
