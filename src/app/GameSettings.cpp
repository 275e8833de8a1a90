#include "app/GameSettings.h"

#include <wx/translation.h>

#include <algorithm>
#include <cmath>

namespace {

constexpr char FALLBACK_RESOLUTION[] = "1024x768";

bool WiderOrTaller(const DisplayMode& a, const DisplayMode& b)
{
    return a.width != b.width ? a.width > b.width : a.height > b.height;
}

} // namespace

wxArrayString GetQualityNames()
{
    wxArrayString names;
    names.Add(_("Fastest"));
    names.Add(_("Fast"));
    names.Add(_("Simple"));
    names.Add(_("Good"));
    names.Add(_("Beautiful"));
    names.Add(_("Fantastic"));
    return names;
}

wxString ResolutionText(DisplayMode mode, double scale)
{
    return wxString::Format("%dx%d", static_cast<int>(std::lround(mode.width * scale)),
                            static_cast<int>(std::lround(mode.height * scale)));
}

wxArrayString ResolutionChoices(std::vector<DisplayMode> modes, double scale)
{
    std::sort(modes.begin(), modes.end(), WiderOrTaller);
    wxArrayString choices;
    for (const DisplayMode& mode : modes) {
        const wxString text = ResolutionText(mode, scale);
        if (choices.empty() || choices.back() != text)
            choices.Add(text);
    }
    return choices;
}

int PreselectResolution(const wxArrayString& choices, const wxString& saved, const wxString& current)
{
    int index = choices.Index(saved);
    if (index == wxNOT_FOUND)
        index = choices.Index(current);
    if (index == wxNOT_FOUND)
        index = choices.Index(FALLBACK_RESOLUTION);
    if (index == wxNOT_FOUND && !choices.empty())
        index = 0;
    return index;
}

int PreselectQuality(const wxArrayString& names, const wxString& saved)
{
    int index = names.Index(saved, false);
    if (index != wxNOT_FOUND)
        return index;
    return static_cast<int>(names.size()) > DEFAULT_QUALITY ? DEFAULT_QUALITY : wxNOT_FOUND;
}
