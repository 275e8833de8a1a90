#include "download/HTTPWrapper.h"

#include <wx/uri.h>

bool HTTPWrapper::IsHttpUrl(const wxString& url)
{
    wxURI uri(url);
    return uri.HasServer() && !uri.GetServer().empty() && uri.GetScheme() == "http";
}
