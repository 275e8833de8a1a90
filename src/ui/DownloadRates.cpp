#include "ui/DownloadRates.h"

#include <wx/translation.h>

#include <algorithm>

namespace {

constexpr int KIB_PER_MIB = 1024;

} // namespace

std::vector<int> DownloadRateChoices(int configured)
{
    std::vector<int> rates{0, 512, 1024, 2048, 5120, 10240};
    const auto place = std::lower_bound(rates.begin(), rates.end(), configured);
    if (configured > 0 && (place == rates.end() || *place != configured))
        rates.insert(place, configured);
    return rates;
}

wxString DownloadRateText(int kibPerSecond)
{
    if (kibPerSecond <= 0)
        return _("No limit");
    if (kibPerSecond % KIB_PER_MIB == 0)
        return wxString::Format(_("%d MB/s"), kibPerSecond / KIB_PER_MIB);
    return wxString::Format(_("%d KB/s"), kibPerSecond);
}
