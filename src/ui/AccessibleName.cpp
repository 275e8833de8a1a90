#include "ui/AccessibleName.h"

#include <gtk/gtk.h>
#include <wx/window.h>

namespace {

void NameWidget(GtkWidget* widget, gpointer name)
{
    atk_object_set_name(gtk_widget_get_accessible(widget), static_cast<const char*>(name));
    // The parts a toolkit control is made of, its own inner ones included.
    if (GTK_IS_CONTAINER(widget))
        gtk_container_forall(GTK_CONTAINER(widget), NameWidget, name);
}

} // namespace

void SetAccessibleName(wxWindow& control, const wxString& name)
{
    const wxScopedCharBuffer text = name.utf8_str();
    NameWidget(control.GetHandle(), const_cast<char*>(text.data()));
}
