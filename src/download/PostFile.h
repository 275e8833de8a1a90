#pragma once

#include "download/ParameterMap.h"

#include <wx/string.h>

class Cancellation;

// Posts a multipart form to url: one text part per parameter, in map order,
// then the file at filePath as the part fieldName. Names, values and the URL
// go out in their ASCII form (every character above 127 becomes '_'). True
// when the transfer completed, whatever the status of the answer. A requested
// stop (may be null) aborts the transfer, and so do 10 s without a byte either way.
bool PostFile(const wxString& url, const wxString& fieldName, const wxString& filePath,
              const ParameterMap& parameters, const Cancellation* stop = nullptr);
