#include "ui/DisplayResolutions.h"

#include "app/GameSettings.h"

#include <wx/display.h>

wxArrayString GetResolutionChoices()
{
    const wxArrayVideoModes modes = wxDisplay(0u).GetModes();
    std::vector<DisplayMode> plain;
    plain.reserve(modes.size());
    for (size_t i = 0; i < modes.size(); ++i)
        plain.push_back({modes[i].GetWidth(), modes[i].GetHeight()});
    return ResolutionChoices(std::move(plain));
}
