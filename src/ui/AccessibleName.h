#pragma once

#include <wx/string.h>

class wxWindow;

// Gives the control the name that screen readers announce, on the widget and
// on each part of it that takes the focus: a choice is otherwise announced by
// its value, and a check box whose text stands left of the box by nothing.
void SetAccessibleName(wxWindow& control, const wxString& name);
