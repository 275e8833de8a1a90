#include "ui/MessageBox.h"

#include <wx/intl.h>
#include <wx/log.h>
#include <wx/msgdlg.h>
#include <wx/utils.h>

int ShowMessageBox(const wxString& text, long style)
{
    if (wxGetEnv("LAUNCHER_CONFIRM_BOXES", nullptr)) {
        wxLogMessage("Message box confirmed without showing it: %s", text);
        return (style & wxYES_NO) != 0 ? wxYES : wxOK;
    }
    return wxMessageBox(text, _("Launcher"), style);
}
