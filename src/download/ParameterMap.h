#pragma once

#include <wx/string.h>

#include <map>

// Orders names by their UTF-16 code units, so that every upper-case name sorts
// before every lower-case one. wxString holds UTF-32 here, where characters
// beyond the BMP would otherwise sort after U+E000..U+FFFF.
struct Utf16Less {
    bool operator()(const wxString& a, const wxString& b) const
    {
        auto ai = a.begin();
        auto bi = b.begin();
        for (; ai != a.end() && bi != b.end(); ++ai, ++bi) {
            const unsigned long ka = Key(*ai);
            const unsigned long kb = Key(*bi);
            if (ka != kb) {
                return ka < kb;
            }
        }
        return ai == a.end() && bi != b.end();
    }

private:
    // A supplementary character starts with a surrogate (D800..DBFF), which
    // sorts below E000..FFFF: move that range above all code points.
    static unsigned long Key(wxUniChar c)
    {
        const unsigned long cp = c.GetValue();
        return cp >= 0xE000 && cp <= 0xFFFF ? cp + 0x110000 : cp;
    }
};

// Query parameters (or form fields) in the order they go on the wire.
using ParameterMap = std::map<wxString, wxString, Utf16Less>;
