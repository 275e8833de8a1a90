#include "app/LauncherConfig.h"

#include "support/LogCapture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <wx/filename.h>

namespace {

// The configuration of an installation in a temporary directory, the current directory lying elsewhere.
class ConfigTest : public testing::Test {
protected:
    ConfigTest() { config.SetDefaults(install.Path()); }

    void Load(const std::string& launcherConf, const std::string& userConf = "")
    {
        install.Write("launcher.conf", launcherConf);
        if (!userConf.empty())
            install.Write("user.conf", userConf);
        config.LoadConfig();
    }

    TempDir install;
    LogCapture log;
    LauncherConfig config;
};

TEST_F(ConfigTest, MissingLauncherConfKeepsDefaultsAndSkipsUserConf)
{
    install.Write("user.conf", "resolution=800x600\n");
    config.LoadConfig();
    EXPECT_TRUE(config.configMissing);
    EXPECT_TRUE(log.Has(wxLOG_Error, "Config File " + install.File("launcher.conf").ToStdString() +
                                         " not found, please contact support."));
    EXPECT_EQ(config.resolution, "");
}

// Support reads these exact lines in players' logs.
TEST_F(ConfigTest, EachKeyLogsItsAcceptanceOrRejection)
{
    const std::string zeroKey = std::string(43, 'A') + "="; // 32 zero bytes
    const wxLogLevel FOUND = wxLOG_Message, IGNORED = wxLOG_Warning;
    const struct {
        std::string line;
        wxLogLevel level;
        std::string logText;
    } cases[] = {
        {"baseUrl=http://up.example/p", FOUND, "Config: Found base URL: http://up.example/p/"},
        {"baseUrl=ftp://up.example/p", IGNORED, "Config: Ignoring bad base URL: ftp://up.example/p/"},
        {"newsUrl=http://n.ex/${clientid}", FOUND, "Config: Found news URL: http://n.ex/${clientid}"},
        {"newsUrl=n.example", IGNORED, "Config: Ignoring bad news URL: n.example"},
        {"gameExecutable=bin/game", FOUND, "Config: Found game executable: bin/game"},
        {"gameExecutable=missing.exe", IGNORED, "Config: Ignoring bad game executable: missing.exe"},
        {"minSysMemoryMB=1", FOUND, "Config: Found minimum system memory value: 1"},
        {"minSysMemoryMB=0", IGNORED, "Config: Ignoring bad minimum system memory value: 0"},
        {"minSysMemoryMB=4294967296", IGNORED,
         "Config: Ignoring bad minimum system memory value: 4294967296"},
        {"baseDir=/no/such/dir", IGNORED, "Config: Ignoring bad base directory: /no/such/dir"},
        {"useMiniBrowserOnly=1", IGNORED, "Starting in minibrowser mode."},
        {"releaseKey=" + zeroKey, FOUND, "Config: Found release key: " + zeroKey},
        {"releaseKey=c2hvcnQ=", wxLOG_Error,
         "Config: The release key cannot be used, no update will be taken: c2hvcnQ="},
        {"maxConnections=8", FOUND, "Config: Found maximum connections: 8"},
        {"maxConnections=9", IGNORED, "Config: Ignoring bad maximum connections: 9"},
    };
    install.Write("bin/game", "");
    for (const auto& c : cases) {
        Load(std::string(c.line) + "\n");
        EXPECT_TRUE(log.Has(c.level, c.logText)) << c.line;
    }
    // Each accepted value replaced the one before; rejected ones changed nothing.
    EXPECT_EQ(config.baseUrl, "http://up.example/p/");
    EXPECT_EQ(config.minSysMemoryMB, 1);
    EXPECT_EQ(config.baseDir, install.Path());
    EXPECT_TRUE(config.releaseKey.has_value());
    EXPECT_EQ(config.maxConnections, 8);
}

// Values that are not whole numbers count as absent.
TEST_F(ConfigTest, NonIntegerValuesAreIgnoredAndDebugLogRaisesTheLevel)
{
    wxLog::SetLogLevel(wxLOG_Message);
    Load("minSysMemoryMB=lots\nuseMiniBrowserOnly=yes\nenableLogDebug=true\n", "fullscreen=no\n");
    EXPECT_EQ(config.minSysMemoryMB, 1600);
    EXPECT_FALSE(config.miniBrowserOnly);
    EXPECT_TRUE(config.fullscreen);
    EXPECT_EQ(wxLog::GetLogLevel(), static_cast<wxLogLevel>(wxLOG_Message));
    Load("enableLogDebug=1\n");
    EXPECT_EQ(wxLog::GetLogLevel(), static_cast<wxLogLevel>(wxLOG_Max));
}

// user.conf and the marker of the first run, which later runs see, stay in the
// installation even when baseDir points elsewhere.
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

    config.resolution = "1024x768";
    ASSERT_TRUE(config.SaveUserConfig());
    EXPECT_EQ(install.Read("user.conf").substr(0, 20), "resolution=1024x768\n");
    EXPECT_TRUE(config.firstRun);
    config.CreateFirstRunMarker();
    config.SetDefaults(install.Path());
    EXPECT_FALSE(config.firstRun);
    EXPECT_FALSE(wxFileName::FileExists(elsewhere.File("user.conf")) ||
                 wxFileName::FileExists(elsewhere.File("firstRun")));
}

// The player's cap holds over the publisher's, and "no limit" chosen under a publisher's cap survives a
// restart.
TEST_F(ConfigTest, ThePlayersDownloadRateHoldsOverThePublishers)
{
    Load("maxDownloadRate=500\n");
    config.maxDownloadRate = 0;
    ASSERT_TRUE(config.SaveUserConfig());
    config.SetDefaults(install.Path());
    Load("maxDownloadRate=500\n");
    EXPECT_EQ(config.maxDownloadRate, 0);
}

// The player's choices, saved with whatever else the file holds; the language is this build's.
TEST_F(ConfigTest, UserConfIsReadAndSavedKeepingEntriesItDoesNotKnow)
{
    Load("");
    EXPECT_TRUE(log.Has(wxLOG_Message, "No user config file found."));
    config.resolution = "1024x768";
    ASSERT_TRUE(config.SaveUserConfig());
    EXPECT_EQ(install.Read("user.conf"), "resolution=1024x768\nfullscreen=1\nquality=\nlanguage=151\n");

    Load("", "volume=7\nresolution=1280x720\nfullscreen=0\nquality=Good\nlanguage=56\n");
    EXPECT_EQ(config.resolution, "1280x720");
    EXPECT_FALSE(config.fullscreen);
    EXPECT_EQ(config.quality, "Good");
    EXPECT_EQ(config.languageId, 151);
    EXPECT_TRUE(log.Has(wxLOG_Message, "Config: Found full screen setting: windowed"));
    EXPECT_TRUE(log.Has(wxLOG_Warning, "Config: setting language is not supported in this build."));
    config.resolution = "1920x1080";
    config.quality = "Fantastic";
    ASSERT_TRUE(config.SaveUserConfig());
    EXPECT_EQ(install.Read("user.conf"),
              "volume=7\nresolution=1920x1080\nfullscreen=0\nquality=Fantastic\nlanguage=151\n");
    EXPECT_FALSE(wxFileName::Exists(install.File("user.conf\\part")));

    // A reload without the entry must not keep the earlier "windowed".
    Load("", "resolution=1024x768\n");
    EXPECT_TRUE(config.fullscreen);

    // Zero bytes (a crash's damage) in one line must not cost the others on saving.
    Load("", std::string("junk\0\0=x\nfullscreen=0\nquality=Good\n", 35));
    ASSERT_TRUE(config.SaveUserConfig());
    Load("");
    EXPECT_FALSE(config.fullscreen);
    EXPECT_EQ(config.quality, "Good");
}

} // namespace
