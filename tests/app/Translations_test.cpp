#include "app/Translations.h"

#include "support/LogCapture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <wx/intl.h>

#include <string>

namespace {

std::string Translated(const char* text)
{
    return wxGetTranslation(text).utf8_string();
}

// The catalog on disk is rewritten at every start, whatever happened to it;
// neither a damaged one nor one that cannot be written takes the launcher down.
TEST(Translations, EmbeddedCatalogReplacesADamagedOneAndABadOneTranslatesNothing)
{
    TempDir dir;
    LogCapture log;
    dir.Write("pt/launcher.mo", std::string("\xde\x12\x04\x95 truncated", 14));
    EXPECT_FALSE(InstalledTranslations(dir.Path(), "pt").IsLoaded());
    auto installed = SetupTranslations(LANGUAGE_PORTUGUESE_BRAZILIAN, dir.Path());
    ASSERT_TRUE(installed && installed->IsLoaded());
    EXPECT_EQ(Translated("Play"), "Jogar");
    installed.reset();
    EXPECT_EQ(Translated("Play"), "Play");

    TempDir draft;
    draft.Write("pt", "a file where the directory belongs");
    installed = SetupTranslations(LANGUAGE_PORTUGUESE_BRAZILIAN, draft.Path());
    ASSERT_TRUE(installed && !installed->IsLoaded());
    EXPECT_TRUE(log.Has(wxLOG_Warning, "Error creating directory : " + draft.File("pt").utf8_string()));
    // An error would show the player a message box.
    for (const LogCapture::Line& line : log.Lines())
        EXPECT_NE(line.level, wxLOG_Error) << line.text;
}

} // namespace
