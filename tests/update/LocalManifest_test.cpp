#include "update/LocalManifest.h"

#include "support/DiskFull.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <wx/filename.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

const char ABC_MD5[] = "900150983cd24fb0d6963f7d28e17f72";
const std::string RECORD_A = "<file name=\"a\" checksum=\"\" timestamp=\"0\" size=\"0\" />";

class LocalManifestTest : public testing::Test {
protected:
    LocalManifestTest() : manifest(install.Path(), "manifest2.xml") {}

    bool LoadText(const std::string& text)
    {
        manifest.clear();
        install.Write("manifest2.xml", text);
        return manifest.LoadDefault();
    }

    bool HasErrors() const
    {
        return std::any_of(log.Lines().begin(), log.Lines().end(),
                           [](const LogCapture::Line& line) { return line.level == wxLOG_Error; });
    }

    TempDir install;
    LogCapture log;
    LocalManifest manifest;
};

// Records with what the format cannot hold plainly: the escaped characters
// and white space, a non-ASCII letter, numbers beyond 31 bits. Load appends.
TEST_F(LocalManifestTest, SaveWritesTheExactFormatThatLoadsBack)
{
    manifest.push_back(ManifestFileInfo("data\\maps\\R&D <1>\t\"q\"\r\n.pak", 1700000000, ABC_MD5, 3));
    manifest.push_back(ManifestFileInfo(wxString::FromUTF8("caf\xc3\xa9.txt"), 0, "", 0));
    manifest.push_back(
        ManifestFileInfo("big.bin", 3000000000LL, "d41d8cd98f00b204e9800998ecf8427e", 3000000000u));
    manifest.push_back(ManifestFileInfo("far.bin", 0x100000005LL, "x", 4294967295u));
    EXPECT_TRUE(manifest.SaveDefault());

    EXPECT_EQ(install.Read("manifest2.xml"),
              "<manifest>\r\n"
              "\t<file name=\"data\\maps\\R&amp;D &lt;1>&#9;&quot;q&quot;&#13;&#10;.pak\" "
              "checksum=\"900150983cd24fb0d6963f7d28e17f72\" timestamp=\"1700000000\" size=\"3\" />\r\n"
              "\t<file name=\"caf\xc3\xa9.txt\" checksum=\"\" timestamp=\"0\" size=\"0\" />\r\n"
              "\t<file name=\"big.bin\" checksum=\"d41d8cd98f00b204e9800998ecf8427e\" "
              "timestamp=\"-1294967296\" size=\"-1294967296\" />\r\n"
              "\t<file name=\"far.bin\" checksum=\"x\" timestamp=\"5\" size=\"-1\" />\r\n"
              "</manifest>\r\n");

    ASSERT_TRUE(manifest.LoadDefault());
    ASSERT_EQ(manifest.size(), 8u);
    EXPECT_EQ(std::next(manifest.begin(), 4)->name, manifest.front().name);
    EXPECT_EQ(manifest.back().checksum, "x");

    // An empty manifest saves as two lines and loads as a failure without error.
    manifest.clear();
    manifest.SaveDefault();
    EXPECT_EQ(install.Read("manifest2.xml"), "<manifest>\r\n</manifest>\r\n");
    EXPECT_FALSE(manifest.LoadDefault());
    EXPECT_TRUE(log.Has(wxLOG_Warning, "Empty manifest."));
    EXPECT_EQ(manifest.result, MANIFEST_OK);
}

// A bad record ends the load with its code; the records before it stay.
TEST_F(LocalManifestTest, BadRecordFailsWithItsCodeAndKeepsEarlierRecords)
{
    const std::pair<std::string, int> cases[] = {
        {"<folder name=\"b\" />", MANIFEST_UNKNOWN_ELEMENT},
        {"<file checksum=\"\" timestamp=\"0\" size=\"0\" />", MANIFEST_MISSING_ATTRIBUTE},
        {"<file name=\"b\" timestamp=\"0\" size=\"0\" />", MANIFEST_MISSING_ATTRIBUTE},
        {"<file name=\"b\" checksum=\"\" size=\"0\" />", MANIFEST_MISSING_ATTRIBUTE},
        {"<file name=\"b\" checksum=\"\" timestamp=\"0\" />", MANIFEST_MISSING_ATTRIBUTE},
        {"x" + std::string(400000, '\n'), MANIFEST_UNKNOWN_ELEMENT},
    };
    for (const auto& [bad, result] : cases) {
        LogCapture caseLog;
        EXPECT_FALSE(LoadText("<manifest>" + RECORD_A + bad + RECORD_A + "</manifest>")) << bad;
        EXPECT_EQ(manifest.result, result) << bad;
        ASSERT_EQ(manifest.size(), 1u) << bad;
        EXPECT_EQ(manifest.front().name, "a");
        // Text directly under the root counts as an element named "text".
        const std::string element = bad[0] == '<' ? bad.substr(1, bad.find(' ') - 1) : "text";
        EXPECT_EQ(caseLog.Has(wxLOG_Error, "XML error: unknown element <" + element +
                                               ">. The only element supported is <file>."),
                  result == MANIFEST_UNKNOWN_ELEMENT);
    }
}

// A failed rewrite (temporary file blocked, disk full mid-write) must leave
// the previous manifest, never a truncated one, nor a temporary file.
TEST_F(LocalManifestTest, FailedRewriteKeepsTheOldFile)
{
    manifest.push_back(ManifestFileInfo("old.pak", 1, ABC_MD5, 3));
    manifest.SaveDefault();
    const std::string original = install.Read("manifest2.xml");
    for (int i = 0; i < 1000; ++i)
        manifest.push_back(ManifestFileInfo(wxString::Format("new%d.pak", i), i, ABC_MD5, 3));

    wxFileName::Mkdir(install.File("manifest2.xml.tmp"));
    EXPECT_TRUE(manifest.SaveDefault());
    EXPECT_EQ(install.Read("manifest2.xml"), original);
    EXPECT_TRUE(HasErrors());

    wxFileName::Rmdir(install.File("manifest2.xml.tmp"));
    EXPECT_EQ(RunWithDiskFullAfter(4096, [this] { return manifest.SaveDefault() ? 0 : 1; }), 0);
    EXPECT_EQ(install.Read("manifest2.xml"), original);
    EXPECT_FALSE(wxFileName::Exists(install.File("manifest2.xml.tmp")));
}

} // namespace
