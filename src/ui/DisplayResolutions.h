#pragma once

#include <wx/arrstr.h>

// Resolution texts the primary display offers, widest first (see ResolutionChoices).
wxArrayString GetResolutionChoices();
