#pragma once

#include <wx/arrstr.h>

#include <vector>

// One video mode of a display, in pixels. The toolkit's own mode type lives in
// its GUI library, which the core does not link.
struct DisplayMode {
    int width;
    int height;
};

// Quality number preselected when the saved quality matches no name ("Beautiful").
inline constexpr int DEFAULT_QUALITY = 4;

// The six graphics quality names in the player's language, from "Fastest" to
// "Fantastic"; a name's position is the quality number the game receives.
wxArrayString GetQualityNames();

// The text "<width>x<height>" of a mode given in the desktop's scaled pixels,
// in the screen's own pixels: the game opens its window in those.
wxString ResolutionText(DisplayMode mode, double scale);

// Resolution texts of the modes (see ResolutionText), wider first and, for the
// same width, taller first; modes that differ only in colour depth or refresh
// rate appear once.
wxArrayString ResolutionChoices(std::vector<DisplayMode> modes, double scale);

// Index of the resolution to preselect: the entry equal to saved, else the
// display's current one, else "1024x768", else the first (widest); -1 when
// there are no choices.
int PreselectResolution(const wxArrayString& choices, const wxString& saved, const wxString& current);

// Index of the quality to preselect: the name equal to saved ignoring case,
// else DEFAULT_QUALITY; -1 when the list is too short to hold that.
int PreselectQuality(const wxArrayString& names, const wxString& saved);
