#include "ui/MessageBox.h"

#include <wx/log.h>
#include <wx/msgdlg.h>
#include <wx/utils.h>

int ShowMessageBox(const wxString& message, const wxString& caption, long style)
{
    if (wxGetEnv("LAUNCHER_CONFIRM_BOXES", nullptr)) {
        wxLogMessage("Message box confirmed without showing it: %s", message);
        return (style & wxYES_NO) != 0 ? wxYES : wxOK;
    }
    return wxMessageBox(message, caption, style);
}
