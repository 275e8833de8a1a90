#include "ui/ProgressAmount.h"

#include <wx/translation.h>

#include <algorithm>

namespace {

constexpr double MIB = 1024.0 * 1024.0;
constexpr double GIB = MIB * 1024.0;

wxString LargeSizeText(std::int64_t bytes)
{
    if (bytes >= GIB)
        return wxString::Format(_("%.2f GB"), bytes / GIB);
    return wxString::Format(_("%.1f MB"), bytes / MIB);
}

} // namespace

wxString ProgressAmountText(std::int64_t done, std::int64_t total, bool bytes)
{
    if (total <= 0)
        return wxString();
    done = std::clamp<std::int64_t>(done, 0, total);
    // Rounded down: 100% only once the last unit is in.
    const wxString percent = wxString::Format("%d%%", static_cast<int>(done * 100 / total));
    if (!bytes)
        return percent;
    return wxString::Format(_("%s of %s (%s)"), LargeSizeText(done), LargeSizeText(total), percent);
}
