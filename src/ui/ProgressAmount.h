#pragma once

#include <wx/string.h>

#include <cstdint>

// What the gauge shows, in words beside it: done of total in MB or GB and a
// percentage when the units are bytes, the percentage alone otherwise (files
// checked, steps); empty before there is a total.
wxString ProgressAmountText(std::int64_t done, std::int64_t total, bool bytes);
