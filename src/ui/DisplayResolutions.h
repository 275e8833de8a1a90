#pragma once

#include <wx/arrstr.h>

// Resolution texts the primary display offers in its own pixels, widest first
// (see ResolutionChoices).
wxArrayString GetResolutionChoices();
// The primary display's resolution now, as one of those texts.
wxString GetCurrentResolution();
