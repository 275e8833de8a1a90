#include "ui/GaugeHeight.h"

#include <gtk/gtk.h>
#include <wx/gauge.h>

#include <string>

// The bar's trough and fill are parts of the widget that a style given to the
// widget alone does not reach: the rule is the screen's, whose only gauge this is.
void SetGaugeHeight(wxGauge& gauge, int height)
{
    const std::string rule =
        "progressbar trough, progressbar progress { min-height: " + std::to_string(height) + "px; }";
    GtkCssProvider* style = gtk_css_provider_new();
    gtk_css_provider_load_from_data(style, rule.c_str(), -1, nullptr);
    gtk_style_context_add_provider_for_screen(gtk_widget_get_screen(gauge.GetHandle()),
                                              GTK_STYLE_PROVIDER(style),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(style);
    // The size the toolkit measured before the rule.
    gauge.SetMinSize(wxSize(-1, height));
}
