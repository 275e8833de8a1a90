#include "app/LauncherConfig.h"

#include "app/AtomicFile.h"

#include "support/DiskFull.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <wx/filename.h>
#include <wx/utils.h>


namespace {

// An installation in a temporary directory, with the configuration pointed at it
// and the current directory inside it (the first-run marker lives there).
class ConfigTest : public testing::Test {
protected:
    ConfigTest() : previousDir(wxGetCwd())
    {
        wxSetWorkingDirectory(install.Path());
        config.baseDir = install.Path();
    }
    ~ConfigTest() override { wxSetWorkingDirectory(previousDir); }

    void Load(const std::string& launcherConf, const std::string& userConf = "")
    {
        install.Write("launcher.conf", launcherConf);
        if (!userConf.empty())
            install.Write("user.conf", userConf);
        config.LoadConfig();
    }

    TempDir install;
    wxString previousDir;
    LogCapture log;
    LauncherConfig config;
};

// Servers rely on these paths and query keys.
TEST_F(ConfigTest, DefaultUrlsCarryTheFixedPathsAndPlaceholders)
{
    LauncherConfig defaults;
    EXPECT_EQ(defaults.logDir, GetExecutableDir() + "/logs");
    EXPECT_TRUE(defaults.baseUrl.EndsWith("/vlr2update/"));
    EXPECT_TRUE(defaults.uploadUrl.EndsWith("/vlr_client_side.aspx"));
    EXPECT_TRUE(defaults.newsUrl.EndsWith("/launcher/?CLIENTID=${clientid}&SESSIONID=${sessionid}"
                                          "&VERSIONID=${versionid}&FIRSTTIME=${firsttime}"));
    EXPECT_TRUE(defaults.problemsUrl.EndsWith("/faq/categoria/16/problemas-na-instalacao"
                                              "?CLIENTID=${clientid}&SESSIONID=${sessionid}"));
    for (const wxString& url : {defaults.baseUrl, defaults.newsUrl, defaults.uploadUrl, defaults.problemsUrl})
        EXPECT_TRUE(url.StartsWith("http://")) << url;
}

TEST_F(ConfigTest, MissingLauncherConfKeepsDefaultsAndSkipsUserConf)
{
    install.Write("user.conf", "resolution=800x600\n");
    config.LoadConfig();
    EXPECT_TRUE(config.configMissing);
    EXPECT_TRUE(log.Has(wxLOG_Error, "Config File " + install.File("launcher.conf").ToStdString() +
                                         " not found, please contact support."));
    EXPECT_EQ(config.resolution, "");
    EXPECT_FALSE(log.HasText("Loading user config file: " + install.File("user.conf").ToStdString()));
}

struct KeyCase {
    const char* line;
    wxLogLevel level;
    const char* logText;
};

void PrintTo(const KeyCase& keyCase, std::ostream* out)
{
    *out << keyCase.line;
}

class LauncherConfKey : public ConfigTest, public testing::WithParamInterface<KeyCase> {};

TEST_P(LauncherConfKey, LogsItsAcceptanceOrRejection)
{
    install.Write("game/velorian.bin", "");
    Load(std::string(GetParam().line) + "\n");
    EXPECT_TRUE(log.Has(GetParam().level, GetParam().logText)) << GetParam().line;
    EXPECT_FALSE(config.configMissing);
}

INSTANTIATE_TEST_SUITE_P(
    AcceptAndReject, LauncherConfKey,
    testing::Values(
        KeyCase{"baseUrl=http://up.example.com/path", wxLOG_Message,
                "Config: Found base URL: http://up.example.com/path/"},
        KeyCase{"baseUrl=https://up.example.com/path", wxLOG_Warning,
                "Config: Ignoring bad base URL: https://up.example.com/path/"},
        KeyCase{"baseUrl=HTTP://up.example.com/", wxLOG_Warning,
                "Config: Ignoring bad base URL: HTTP://up.example.com/"},
        KeyCase{"newsUrl=http://news.example.com/x?a=${clientid}", wxLOG_Message,
                "Config: Found news URL: http://news.example.com/x?a=${clientid}"},
        KeyCase{"newsUrl=news.example.com", wxLOG_Warning, "Config: Ignoring bad news URL: news.example.com"},
        KeyCase{"uploadUrl=http://log.example.com/u.aspx", wxLOG_Message,
                "Config: Found upload URL: http://log.example.com/u.aspx"},
        KeyCase{"uploadUrl=ftp://log.example.com/", wxLOG_Warning,
                "Config: Ignoring bad upload URL: ftp://log.example.com/"},
        KeyCase{"problemsUrl=http://help.example.com/faq", wxLOG_Message,
                "Config: Found problems URL: http://help.example.com/faq"},
        KeyCase{"problemsUrl=http:///nohost", wxLOG_Warning, "Config: Ignoring bad problems URL: http:///nohost"},
        KeyCase{"gameExecutable=game/velorian.bin", wxLOG_Message,
                "Config: Found game executable: game/velorian.bin"},
        KeyCase{"gameExecutable=missing.exe", wxLOG_Warning, "Config: Ignoring bad game executable: missing.exe"},
        KeyCase{"minSysMemoryMB=1", wxLOG_Message, "Config: Found minimum system memory value: 1"},
        KeyCase{"minSysMemoryMB=0", wxLOG_Warning, "Config: Ignoring bad minimum system memory value: 0"},
        KeyCase{"minSysMemoryMB=-20", wxLOG_Warning, "Config: Ignoring bad minimum system memory value: -20"},
        KeyCase{"minSysMemoryMB=4294967296", wxLOG_Warning,
                "Config: Ignoring bad minimum system memory value: 4294967296"},
        KeyCase{"baseDir=/no/such/directory", wxLOG_Warning,
                "Config: Ignoring bad base directory: /no/such/directory"},
        KeyCase{"useMiniBrowserOnly=1", wxLOG_Warning, "Starting in minibrowser mode."}));

TEST_F(ConfigTest, ValuesThatAreNotIntegersCountAsAbsent)
{
    Load("minSysMemoryMB=lots\nuseMiniBrowserOnly=yes\nenableLogDebug=true\n", "fullscreen=no\n");
    EXPECT_EQ(config.minSysMemoryMB, 1600);
    EXPECT_FALSE(config.miniBrowserOnly);
    EXPECT_TRUE(config.fullscreen);
    for (const auto& line : log.Lines())
        EXPECT_EQ(line.text.find("minimum system memory"), std::string::npos) << line.text;
}

TEST_F(ConfigTest, DebugLogRaisesTheLevelAndSaysSo)
{
    wxLog::SetLogLevel(wxLOG_Message);
    Load("enableLogDebug=1\n");
    EXPECT_EQ(wxLog::GetLogLevel(), 10000u);
    EXPECT_TRUE(log.Has(wxLOG_Info, "Debug log enabled."));
}

TEST_F(ConfigTest, DebugLogOffLeavesTheLevel)
{
    wxLog::SetLogLevel(wxLOG_Message);
    Load("enableLogDebug=0\n");
    EXPECT_EQ(wxLog::GetLogLevel(), static_cast<wxLogLevel>(wxLOG_Message));
    EXPECT_FALSE(log.HasText("Debug log enabled."));
}

TEST_F(ConfigTest, AcceptedValuesReplaceDefaultsAndRejectedOnesKeepThem)
{
    Load("baseUrl=http://up.example.com/a\nnewsUrl=https://news.example.com/\nminSysMemoryMB=0\n"
         "useMiniBrowserOnly=0\n");
    EXPECT_EQ(config.baseUrl, "http://up.example.com/a/");
    EXPECT_EQ(config.newsUrl, LauncherConfig().newsUrl);
    EXPECT_EQ(config.minSysMemoryMB, 1600);
    EXPECT_FALSE(config.miniBrowserOnly);
    EXPECT_FALSE(log.HasText("Starting in minibrowser mode."));
}

TEST_F(ConfigTest, BaseDirMovesTheGameButNotTheSettingsFiles)
{
    TempDir elsewhere;
    elsewhere.Write("velorian.bin", "");
    Load("baseDir=" + elsewhere.Path().ToStdString() + "\ngameExecutable=velorian.bin\n",
         "resolution=1280x1024\n");
    EXPECT_EQ(config.baseDir, elsewhere.Path());
    EXPECT_EQ(config.gameExecutable, "velorian.bin");
    EXPECT_EQ(config.resolution, "1280x1024");
    EXPECT_TRUE(log.Has(wxLOG_Message, "Config: Found base directory: " + elsewhere.Path().ToStdString()));

    // The player's choices are saved into the new base directory.
    ASSERT_TRUE(config.SaveUserConfig());
    EXPECT_TRUE(wxFileName::FileExists(elsewhere.File("user.conf")));
    EXPECT_EQ(install.Read("user.conf"), "resolution=1280x1024\n");
}

TEST_F(ConfigTest, UserConfChoicesAreReadWithTheirLogLines)
{
    Load("", "resolution=1280x720\nfullscreen=0\nquality=Good\nlanguage=56\n");
    EXPECT_EQ(config.resolution, "1280x720");
    EXPECT_FALSE(config.fullscreen);
    EXPECT_EQ(config.quality, "Good");
    EXPECT_EQ(config.languageId, 151);
    EXPECT_TRUE(log.Has(wxLOG_Message, "Loading user config file: " + install.File("user.conf").ToStdString()));
    EXPECT_TRUE(log.Has(wxLOG_Message, "Config: Found resolution: 1280x720"));
    EXPECT_TRUE(log.Has(wxLOG_Message, "Config: Found full screen setting: windowed"));
    EXPECT_TRUE(log.Has(wxLOG_Message, "Config: Found graphics quality: Good"));
    EXPECT_TRUE(log.Has(wxLOG_Warning, "Config: setting language is not supported in this build."));
}

TEST_F(ConfigTest, UserConfWithoutFullscreenMeansFullScreen)
{
    Load("");
    EXPECT_TRUE(log.Has(wxLOG_Message, "No user config file found."));
    EXPECT_TRUE(config.fullscreen);
    Load("", "fullscreen=1\n");
    EXPECT_TRUE(log.Has(wxLOG_Message, "Config: Found full screen setting: full screen"));
    config.fullscreen = false;
    install.Write("user.conf", "resolution=1024x768\n");
    config.LoadConfig();
    EXPECT_TRUE(config.fullscreen);
}

TEST_F(ConfigTest, EncodingIsDetectedFromTheByteOrderMark)
{
    // UTF-16 with a byte-order mark, as some editors save it.
    std::string utf16 = "\xFF\xFE";
    const std::u16string text = u"newsUrl=http://n.example.com/caf\u00e9\n";
    for (char16_t unit : text) {
        utf16.push_back(static_cast<char>(unit & 0xFF));
        utf16.push_back(static_cast<char>(unit >> 8));
    }
    Load(utf16);
    EXPECT_EQ(config.newsUrl, wxString::FromUTF8("http://n.example.com/caf\xC3\xA9"));

    Load("\xEF\xBB\xBFnewsUrl=http://n.example.com/\xC3\xA1\n");
    EXPECT_EQ(config.newsUrl, wxString::FromUTF8("http://n.example.com/\xC3\xA1"));
}

TEST_F(ConfigTest, SaveKeepsUnknownEntriesAndWritesTheChoices)
{
    install.Write("user.conf", "volume=7\nresolution=800x600\nlanguage=56\n");
    config.resolution = "1920x1080";
    config.quality = "Fantastic";
    config.fullscreen = false;
    config.languageId = 151;
    ASSERT_TRUE(config.SaveUserConfig());
    EXPECT_EQ(install.Read("user.conf"), "volume=7\nresolution=1920x1080\nlanguage=151\nfullscreen=0\n"
                                         "quality=Fantastic\n");
    EXPECT_TRUE(log.Has(wxLOG_Message, "Saving config file: " + install.File("user.conf").ToStdString()));
    EXPECT_FALSE(wxFileName::Exists(install.File("user.conf.tmp")));
}

TEST_F(ConfigTest, SaveCreatesAMissingUserConf)
{
    config.resolution = "1024x768";
    ASSERT_TRUE(config.SaveUserConfig());
    EXPECT_EQ(install.Read("user.conf"), "resolution=1024x768\nfullscreen=1\nquality=\nlanguage=151\n");
}

TEST_F(ConfigTest, FirstRunMarkerIsCreatedOnceInTheCurrentDirectory)
{
    config.CreateFirstRunMarker();
    const std::string path = install.File("firstRun").ToStdString();
    EXPECT_TRUE(log.Has(wxLOG_Message, "Successfully created first-time-executed file at '" + path + "'"));
    EXPECT_TRUE(wxFileName::FileExists(path));

    LauncherConfig later;
    EXPECT_FALSE(later.firstRun);
    const size_t linesBefore = log.Lines().size();
    later.CreateFirstRunMarker();
    EXPECT_EQ(log.Lines().size(), linesBefore);
}

// A full disk while user.conf is rewritten must leave the old file whole.
TEST(AtomicFile, DiskFullMidWriteKeepsTheOldFileAndNoTemporary)
{
    TempDir dir;
    const std::string original = "resolution=1280x1024\nvolume=3\n";
    dir.Write("user.conf", original);

    const int cutOffWriteReportedSuccess = RunWithDiskFullAfter(
        8, [&] { return WriteFileAtomically(dir.File("user.conf"), std::string(4096, 'x')) ? 1 : 0; });
    EXPECT_EQ(cutOffWriteReportedSuccess, 0);
    EXPECT_EQ(dir.Read("user.conf"), original);
    EXPECT_FALSE(wxFileName::Exists(dir.File("user.conf.tmp")));
}

}  // namespace
