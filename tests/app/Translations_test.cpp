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
    EXPECT_EQ(Translated("Fantastic"), "Fantástico");
    EXPECT_EQ(Translated("Updating files. ${bytesLeft} left at ${byteRate}, estimated time: ${timeLeft}"),
              "Atualizando arquivos. ${bytesLeft} restantes ${byteRate}, tempo estimado: ${timeLeft}");
    EXPECT_EQ(Translated("Close\tCtrl-W"), "Close\tCtrl-W");
    EXPECT_EQ(Translated("Not in any catalog"), "Not in any catalog");
}

TEST_F(TranslationsTest, EnglishCatalogRewordsSomeTexts)
{
    auto installed = SetupTranslations(LANGUAGE_ENGLISH, dir.Path());

    ASSERT_NE(installed, nullptr);
    EXPECT_TRUE(HoldsEmbedded(dir, "en/launcher.mo", "MOFILE_LAUNCHER_EN"));
    EXPECT_EQ(Translated("Click play to start the game."), "Click 'Play' to start the game.");
    EXPECT_EQ(Translated("New launcher version.\nLauncher will now try to restart."),
              "New launcher version. Launcher will now try to restart.");
    EXPECT_EQ(Translated("Play"), "Play");
}

TEST_F(TranslationsTest, DraftInstallsAndWritesNothing)
{
    EXPECT_EQ(SetupTranslations(LANGUAGE_NONE, dir.Path()), nullptr);

    EXPECT_FALSE(wxDir(dir.Path()).HasFiles());
    EXPECT_FALSE(wxDir(dir.Path()).HasSubDirs());
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_EQ(Translated("Play"), "Play");
}

TEST_F(TranslationsTest, DestroyingTheResultUninstallsTheCatalog)
{
    auto installed = SetupTranslations(LANGUAGE_PORTUGUESE_BRAZILIAN, dir.Path());
    ASSERT_EQ(Translated("Play"), "Jogar");

    installed.reset();

    EXPECT_EQ(Translated("Play"), "Play");
    EXPECT_EQ(wxTranslations::Get(), nullptr);
}

// The catalog on disk is rewritten at every start, whatever happened to it.
TEST_F(TranslationsTest, DamagedOrDeletedCatalogIsRestored)
{
    dir.Write("pt/launcher.mo", "not a catalog");
    {
        auto installed = SetupTranslations(LANGUAGE_PORTUGUESE_BRAZILIAN, dir.Path());
        EXPECT_TRUE(HoldsEmbedded(dir, "pt/launcher.mo", "MOFILE_LAUNCHER_PT"));
        EXPECT_EQ(Translated("Play"), "Jogar");
    }

    ASSERT_TRUE(wxRemoveFile(dir.File("pt/launcher.mo")));
    auto installed = SetupTranslations(LANGUAGE_PORTUGUESE_BRAZILIAN, dir.Path());
    EXPECT_TRUE(HoldsEmbedded(dir, "pt/launcher.mo", "MOFILE_LAUNCHER_PT"));
    EXPECT_EQ(Translated("Play"), "Jogar");
}

TEST_F(TranslationsTest, UncreatableDirectoryWarnsAndTranslatesNothing)
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
}

// A catalog that could not be replaced on disk must not take the launcher down.
TEST_F(TranslationsTest, DamagedCatalogIsIgnored)
{
    dir.Write("pt/launcher.mo", std::string("\xde\x12\x04\x95 truncated", 14));

    InstalledTranslations installed(dir.Path(), "pt");

    EXPECT_FALSE(installed.IsLoaded());
    EXPECT_EQ(Translated("Play"), "Play");
}

} // namespace
