#include "update/LocalManifest.h"

#include "support/DiskFull.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <wx/filename.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

const char ABC_MD5[] = "900150983cd24fb0d6963f7d28e17f72";

// An installation directory with its manifest file, and the log of what happens.
class LocalManifestTest : public testing::Test {
protected:
    LocalManifestTest() : manifest(install.Path(), "manifest2.xml") {}

    // Loads text written as the manifest file into the manifest.
    bool LoadText(const std::string& text)
    {
        install.Write("manifest2.xml", text);
        return manifest.LoadDefault();
    }

    std::vector<wxString> Names() const
    {
        std::vector<wxString> names;
        for (const ManifestFileInfo& record : manifest)
            names.push_back(record.name);
        return names;
    }

    TempDir install;
    LogCapture log;
    LocalManifest manifest;
};

// Records with what the format cannot hold plainly: the three escaped
// characters, a non-ASCII letter, numbers beyond 31 bits. Loaded back into the
// same manifest, they come twice: Load appends.
TEST_F(LocalManifestTest, SaveWritesTheExactFormatThatLoadsBack)
{
    manifest.push_back(ManifestFileInfo("data\\maps\\R&D <1> \"q\".pak", 1700000000, ABC_MD5, 3));
    manifest.push_back(ManifestFileInfo(wxString::FromUTF8("caf\xc3\xa9.txt"), 0, "", 0));
    manifest.push_back(
        ManifestFileInfo("big.bin", 3000000000LL, "d41d8cd98f00b204e9800998ecf8427e", 3000000000u));
    manifest.push_back(ManifestFileInfo("far.bin", 0x100000005LL, "x", 4294967295u));
    EXPECT_TRUE(manifest.SaveDefault());

    EXPECT_EQ(install.Read("manifest2.xml"),
              "<manifest>\r\n"
              "\t<file name=\"data\\maps\\R&amp;D &lt;1> &quot;q&quot;.pak\" "
              "checksum=\"900150983cd24fb0d6963f7d28e17f72\" timestamp=\"1700000000\" size=\"3\" />\r\n"
              "\t<file name=\"caf\xc3\xa9.txt\" checksum=\"\" timestamp=\"0\" size=\"0\" />\r\n"
              "\t<file name=\"big.bin\" checksum=\"d41d8cd98f00b204e9800998ecf8427e\" "
              "timestamp=\"-1294967296\" size=\"-1294967296\" />\r\n"
              "\t<file name=\"far.bin\" checksum=\"x\" timestamp=\"5\" size=\"-1\" />\r\n"
              "</manifest>\r\n");

    const std::vector<wxString> saved = Names();
    ASSERT_TRUE(manifest.LoadDefault());
    EXPECT_EQ(Names(), (std::vector<wxString>{saved[0], saved[1], saved[2], saved[3], saved[0], saved[1],
                                              saved[2], saved[3]}));
    EXPECT_EQ(manifest.back().checksum, "x");
}

TEST_F(LocalManifestTest, EmptyManifestSavesTwoLinesThatLoadAsEmpty)
{
    manifest.SaveDefault();
    EXPECT_EQ(install.Read("manifest2.xml"), "<manifest>\r\n</manifest>\r\n");

    EXPECT_FALSE(manifest.LoadDefault());
    EXPECT_TRUE(log.Has(wxLOG_Warning, "Empty manifest."));
    EXPECT_EQ(manifest.result, MANIFEST_OK);
}

// Written by hand: another root name, attributes in another order, entities,
// LF line ends and indentation.
TEST_F(LocalManifestTest, LoadReadsAHandWrittenFile)
{
    ASSERT_TRUE(
        LoadText("<files>\n"
                 "  <file size=\"3\" timestamp=\"1700000000\" checksum=\"900150983cd24fb0d6963f7d28e17f72\"\n"
                 "        name=\"data\\R&amp;D &lt;1&gt; &quot;q&quot;.pak\"/>\n"
                 "  <file name=\"caf\xc3\xa9.txt\" checksum=\"\" timestamp=\"0\" size=\"0\"></file>\n"
                 "</files>\n"));

    ASSERT_EQ(manifest.size(), 2u);
    const ManifestFileInfo& first = manifest.front();
    EXPECT_EQ(first.name, "data\\R&D <1> \"q\".pak");
    EXPECT_EQ(first.checksum, ABC_MD5);
    EXPECT_EQ(first.timestamp, 1700000000);
    EXPECT_EQ(first.size, 3u);
    EXPECT_EQ(manifest.back().name, wxString::FromUTF8("caf\xc3\xa9.txt"));
    EXPECT_EQ(manifest.result, MANIFEST_OK);

    const std::string path = install.File("manifest2.xml").utf8_string();
    EXPECT_TRUE(log.Has(wxLOG_Info, "Reading manifest from: " + path));
    EXPECT_TRUE(log.Has(wxLOG_Info, "Read from manifest: data\\R&D <1> \"q\".pak, ts: 1700000000"));
}

// The numbers are read as C's strtol reads them into 32 bits.
TEST_F(LocalManifestTest, NumbersSaturateAtThe32BitBounds)
{
    struct Case {
        const char* text;
        std::int64_t timestamp;
        std::uint32_t size;
    };
    const Case cases[] = {
        {"-1", -1, 4294967295u},
        {"-1294967296", -1294967296, 3000000000u},
        {"99999999999", 2147483647, 2147483647u},
        {"2147483648", 2147483647, 2147483647u},
        {"-2147483649", -2147483648LL, 2147483648u},
        {" \t+42abc", 42, 42u},
        {"", 0, 0u},
        {"x7", 0, 0u},
    };
    for (const Case& c : cases) {
        manifest.clear();
        ASSERT_TRUE(LoadText(std::string("<manifest><file name=\"a\" checksum=\"\" timestamp=\"") + c.text +
                             "\" size=\"" + c.text + "\" /></manifest>"))
            << c.text;
        EXPECT_EQ(manifest.front().timestamp, c.timestamp) << c.text;
        EXPECT_EQ(manifest.front().size, c.size) << c.text;
    }
    EXPECT_TRUE(log.Has(wxLOG_Info, "Read from manifest: a, ts: 2147483647"));
}

TEST_F(LocalManifestTest, MissingOrUnreadableFileFailsWithAWarning)
{
    EXPECT_FALSE(manifest.LoadDefault());
    EXPECT_TRUE(log.Has(wxLOG_Warning, "Manifest not found: " + install.File("manifest2.xml").utf8_string()));

    EXPECT_FALSE(LoadText("<manifest><file name=\"a\" checksum=\"\" timestamp=\"0\" size=\"0\" />"));
    EXPECT_TRUE(log.Has(wxLOG_Warning, "Could not read manifest."));
    EXPECT_FALSE(LoadText(""));
    EXPECT_TRUE(manifest.empty());
    EXPECT_EQ(manifest.result, MANIFEST_OK);
    // The warning is the only complaint; the parser's own message stays out of the log.
    for (const LogCapture::Line& line : log.Lines())
        EXPECT_NE(line.level, wxLOG_Error) << line.text;
}

TEST_F(LocalManifestTest, UnknownElementFailsWithCode2AndKeepsEarlierRecords)
{
    EXPECT_FALSE(LoadText("<manifest><file name=\"a\" checksum=\"\" timestamp=\"0\" size=\"0\" />"
                          "<folder name=\"b\" /><file name=\"c\" checksum=\"\" timestamp=\"0\" size=\"0\" />"
                          "</manifest>"));
    EXPECT_EQ(manifest.result, MANIFEST_UNKNOWN_ELEMENT);
    EXPECT_TRUE(
        log.Has(wxLOG_Error, "XML error: unknown element <folder>. The only element supported is <file>."));
    EXPECT_EQ(Names(), (std::vector<wxString>{"a"}));
}

TEST_F(LocalManifestTest, MissingAttributeFailsWithCode3AndKeepsEarlierRecords)
{
    const std::vector<std::string> attributes = {" name=\"b\"", " checksum=\"\"", " timestamp=\"0\"",
                                                 " size=\"0\""};
    for (const std::string& dropped : attributes) {
        manifest.clear();
        std::string second = "<file";
        for (const std::string& attribute : attributes)
            second += attribute == dropped ? "" : attribute;
        EXPECT_FALSE(LoadText("<manifest><file name=\"a\" checksum=\"\" timestamp=\"0\" size=\"0\" />" +
                              second + " /></manifest>"))
            << dropped;
        EXPECT_EQ(manifest.result, MANIFEST_MISSING_ATTRIBUTE) << dropped;
        EXPECT_EQ(Names(), (std::vector<wxString>{"a"})) << dropped;
    }
    for (const LogCapture::Line& line : log.Lines())
        EXPECT_GT(line.level, wxLOG_Warning) << line.text;
}

// A failed rewrite must leave the previous manifest, never a truncated one.
class LocalManifestSaveTest : public LocalManifestTest {
protected:
    LocalManifestSaveTest()
    {
        manifest.push_back(ManifestFileInfo("old.pak", 1, ABC_MD5, 3));
        manifest.SaveDefault();
        original = install.Read("manifest2.xml");
        for (int i = 0; i < 1000; ++i)
            manifest.push_back(ManifestFileInfo(wxString::Format("new%d.pak", i), i, ABC_MD5, 3));
    }

    std::string original;
};

TEST_F(LocalManifestSaveTest, UnwritableTemporaryKeepsTheOldFile)
{
    wxFileName::Mkdir(install.File("manifest2.xml.tmp"));

    EXPECT_TRUE(manifest.SaveDefault());
    EXPECT_EQ(install.Read("manifest2.xml"), original);
    EXPECT_TRUE(std::any_of(log.Lines().begin(), log.Lines().end(),
                            [](const LogCapture::Line& line) { return line.level == wxLOG_Error; }));
}

TEST_F(LocalManifestSaveTest, DiskFullMidWriteKeepsTheOldFileAndNoTemporary)
{
    EXPECT_EQ(RunWithDiskFullAfter(4096, [this] { return manifest.SaveDefault() ? 0 : 1; }), 0);
    EXPECT_EQ(install.Read("manifest2.xml"), original);
    EXPECT_FALSE(wxFileName::Exists(install.File("manifest2.xml.tmp")));
}

} // namespace
