#pragma once

#include <wx/string.h>

// The launcher's modal box (an AskUser); returns the answer. When the
// environment variable LAUNCHER_CONFIRM_BOXES is set, as the tests of the real
// program do, the box is not shown: its text is logged and it counts as
// confirmed (OK, or Yes).
int ShowMessageBox(const wxString& message, const wxString& caption, long style);
