#include "app/Translations.h"

#include "platform/Resources.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <wx/dir.h>
#include <wx/filename.h>
#include <wx/intl.h>

#include <string>

namespace {

// Compares a file with an embedded catalog without printing kilobytes of binary on failure.
testing::AssertionResult HoldsEmbedded(const TempDir& dir, const wxString& file, const char* name)
{
    const auto bytes = platform::LoadResourceData(name, "MOFILE");
    const std::string written = dir.Read(file);
    if (!bytes.empty() && written == std::string(bytes.begin(), bytes.end()))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << file << " holds " << written.size()
                                       << " bytes that differ from the " << bytes.size() << " of " << name;
}

std::string Translated(const char* text)
{
    return wxGetTranslation(wxString::FromUTF8(text)).utf8_string();
}

class TranslationsTest : public testing::Test {
protected:
    TempDir dir;
    LogCapture log;
};

TEST_F(TranslationsTest, PortugueseIsWrittenAndShownWithoutASystemLocale)
{
    auto installed = SetupTranslations(LANGUAGE_PORTUGUESE_BRAZILIAN, dir.Path());

    ASSERT_NE(installed, nullptr);
    EXPECT_TRUE(installed->IsLoaded());
    EXPECT_TRUE(HoldsEmbedded(dir, "pt/launcher.mo", "MOFILE_LAUNCHER_PT"));
    EXPECT_TRUE(log.Has(wxLOG_Info, "Creating directory: " + dir.File("pt").utf8_string()));
    EXPECT_TRUE(log.Has(wxLOG_Info, "Extracting " + dir.File("pt/launcher.mo").utf8_string()));
    EXPECT_FALSE(wxFileName::DirExists(dir.File("en")));

    EXPECT_EQ(Translated("Play"), "Jogar");
    EXPECT_EQ(Translated("Updating files. ${bytesLeft} left at ${byteRate}, estimated time: ${timeLeft}"),
              "Atualizando arquivos. ${bytesLeft} restantes ${byteRate}, tempo estimado: ${timeLeft}");
    EXPECT_EQ(Translated("Not in any catalog"), "Not in any catalog");

    installed.reset();
    EXPECT_EQ(Translated("Play"), "Play");
    EXPECT_EQ(wxTranslations::Get(), nullptr);
}

TEST_F(TranslationsTest, EnglishCatalogRewordsSomeTextsAndDraftHasNone)
{
    auto installed = SetupTranslations(LANGUAGE_ENGLISH, dir.Path());
    ASSERT_NE(installed, nullptr);
    EXPECT_TRUE(HoldsEmbedded(dir, "en/launcher.mo", "MOFILE_LAUNCHER_EN"));
    EXPECT_EQ(Translated("Click play to start the game."), "Click 'Play' to start the game.");
    installed.reset();

    TempDir draft;
    LogCapture draftLog;
    EXPECT_EQ(SetupTranslations(LANGUAGE_NONE, draft.Path()), nullptr);
    EXPECT_FALSE(wxDir(draft.Path()).HasFiles() || wxDir(draft.Path()).HasSubDirs());
    EXPECT_TRUE(draftLog.Lines().empty());
}

// Neither a catalog that cannot be written nor one that cannot be read may
// take the launcher down.
TEST_F(TranslationsTest, UnwritableOrDamagedCatalogTranslatesNothingAndIsRepaired)
{
    dir.Write("pt", "a file where the directory belongs");
    auto installed = SetupTranslations(LANGUAGE_PORTUGUESE_BRAZILIAN, dir.Path());
    ASSERT_NE(installed, nullptr);
    EXPECT_FALSE(installed->IsLoaded());
    EXPECT_TRUE(log.Has(wxLOG_Warning, "Error creating directory : " + dir.File("pt").utf8_string()));
    EXPECT_TRUE(log.Has(wxLOG_Warning, "The language 151 is not supported by the system."));
    EXPECT_FALSE(log.HasText("Extracting " + dir.File("pt/launcher.mo").utf8_string()));
    for (const LogCapture::Line& line : log.Lines())
        EXPECT_NE(line.level, wxLOG_Error) << line.text;
    EXPECT_EQ(Translated("Play"), "Play");
    installed.reset();

    TempDir other;
    other.Write("pt/launcher.mo", std::string("\xde\x12\x04\x95 truncated", 14));
    {
        InstalledTranslations damaged(other.Path(), "pt");
        EXPECT_FALSE(damaged.IsLoaded());
        EXPECT_EQ(Translated("Play"), "Play");
    }
    // The catalog on disk is rewritten at every start, whatever happened to it.
    installed = SetupTranslations(LANGUAGE_PORTUGUESE_BRAZILIAN, other.Path());
    EXPECT_TRUE(HoldsEmbedded(other, "pt/launcher.mo", "MOFILE_LAUNCHER_PT"));
    EXPECT_EQ(Translated("Play"), "Jogar");
}

} // namespace
