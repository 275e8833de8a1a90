#include "common/VersionText.h"

namespace {

constexpr size_t MAX_VERSION_LENGTH = 64;

bool IsVersionCharacter(wxUniChar c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_' || c == '+';
}

} // namespace

bool LooksLikeVersion(const wxString& text)
{
    if (text.empty() || text.length() > MAX_VERSION_LENGTH)
        return false;
    for (const wxUniChar c : text) {
        if (!IsVersionCharacter(c))
            return false;
    }
    return true;
}
