#pragma once

#include <wx/string.h>

#include <functional>

// Shows the player a modal message box (text, caption, wxOK and wxICON_* style
// flags) and returns the button pressed. The window is given one that calls
// wxMessageBox; tests give one that answers at once.
using AskUser = std::function<int(const wxString& message, const wxString& caption, long style)>;
