#pragma once

#include "app/LauncherConfig.h"

#include <wx/frame.h>

#include <memory>

class InstalledTranslations;

// The launcher's only window. It keeps its own copy of the settings and the
// player's language for as long as it is open.
class LauncherFrame : public wxFrame {
public:
    LauncherFrame(const LauncherConfig* config, wxWindow* parent, wxWindowID id, const wxString& title,
                  const wxPoint& pos, const wxSize& size, long style);
    ~LauncherFrame() override;

private:
    LauncherConfig config;
    std::unique_ptr<InstalledTranslations> locale;
};
