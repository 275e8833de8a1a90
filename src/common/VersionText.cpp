#include "common/VersionText.h"

#include <wx/log.h>
#include <wx/tokenzr.h>

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

// An empty piece between dots counts, a trailing dot does not (the toolkit's tokenizer).
bool IsNewerVersion(const wxString& current, const wxString& remote)
{
    const wxArrayString currentPieces = wxStringTokenize(current, ".");
    const wxArrayString remotePieces = wxStringTokenize(remote, ".");
    bool comparable = currentPieces.size() == remotePieces.size();
    for (size_t i = 0; comparable && i < currentPieces.size(); ++i) {
        long ours = 0;
        long theirs = 0;
        comparable = currentPieces[i].ToLong(&ours) && remotePieces[i].ToLong(&theirs);
        if (comparable && theirs != ours)
            return theirs > ours;
    }
    if (!comparable)
        wxLogWarning("Error comparing launcher versions: %s - %s", current, remote);
    return false;
}
