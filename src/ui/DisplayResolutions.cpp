#include "ui/DisplayResolutions.h"

#include "app/GameSettings.h"

#include <wx/display.h>

// The toolkit gives modes and geometry in the desktop's scaled pixels, and no
// current mode at all: both are measured from what it does give.
wxArrayString GetResolutionChoices()
{
    const wxDisplay display(0u);
    const wxArrayVideoModes modes = display.GetModes();
    std::vector<DisplayMode> plain;
    plain.reserve(modes.size() + 1);
    for (size_t i = 0; i < modes.size(); ++i)
        plain.push_back({modes[i].GetWidth(), modes[i].GetHeight()});
    const wxRect screen = display.GetGeometry();
    plain.push_back({screen.width, screen.height});
    return ResolutionChoices(std::move(plain), display.GetScaleFactor());
}

wxString GetCurrentResolution()
{
    const wxDisplay display(0u);
    const wxRect screen = display.GetGeometry();
    return ResolutionText({screen.width, screen.height}, display.GetScaleFactor());
}
