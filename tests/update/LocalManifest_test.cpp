#include "update/LocalManifest.h"

#include "common/MD5.h"
#include "progress/LauncherEvents.h"
#include "progress/ProgressNotifier.h"
#include "support/DiskFull.h"
#include "support/EventRecorder.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <wx/datetime.h>
#include <wx/filename.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
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

    wxFileName::Mkdir(install.File("manifest2.xml\\part"));
    EXPECT_TRUE(manifest.SaveDefault());
    EXPECT_EQ(install.Read("manifest2.xml"), original);
    EXPECT_TRUE(HasErrors());

    wxFileName::Rmdir(install.File("manifest2.xml\\part"));
    EXPECT_EQ(RunWithDiskFullAfter(4096, [this] { return manifest.SaveDefault() ? 0 : 1; }), 0);
    EXPECT_EQ(install.Read("manifest2.xml"), original);
    EXPECT_FALSE(wxFileName::Exists(install.File("manifest2.xml\\part")));
}

const char CHANGED[] = "File possibly changed, checking MD5: ";

std::int64_t ModificationTime(const wxString& path)
{
    return wxFileName(path).GetModificationTime().GetTicks();
}

void SetModificationTime(const wxString& path, std::int64_t seconds)
{
    const wxDateTime time(static_cast<time_t>(seconds));
    ASSERT_TRUE(wxFileName(path).SetTimes(nullptr, &time, nullptr)) << path;
}

// A fully hashed manifest of a small tree: every later change must be noticed
// from size and time alone.
class ManifestScanTest : public LocalManifestTest {
protected:
    void SetUp() override
    {
        install.Write("a.txt", "a");
        install.Write("sub/abc.dat", "abc");
        install.Write("sub/.deeper/empty", "");
        install.Write(".digest", "message digest");
        manifest.Scan();
        ASSERT_TRUE(manifest.CheckLocalChanges(nullptr));
        setUpLines = log.Lines().size();
    }

    ManifestFileInfo& Record(const wxString& name)
    {
        auto found = std::find_if(manifest.begin(), manifest.end(),
                                  [&](const ManifestFileInfo& record) { return record.name == name; });
        EXPECT_NE(found, manifest.end()) << name;
        return *found;
    }

    // Paths hashed since the log had that many lines, sorted.
    std::vector<std::string> HashedSince(std::size_t firstLine) const
    {
        std::vector<std::string> paths;
        for (std::size_t i = firstLine; i < log.Lines().size(); ++i) {
            const LogCapture::Line& line = log.Lines()[i];
            if (line.level == wxLOG_Message && line.text.starts_with(CHANGED))
                paths.push_back(line.text.substr(std::string(CHANGED).size()));
        }
        std::sort(paths.begin(), paths.end());
        return paths;
    }

    void ExpectCurrent(const wxString& name, const std::string& content)
    {
        const ManifestFileInfo& record = Record(name);
        EXPECT_EQ(record.checksum, StringMD5(content)) << name;
        EXPECT_EQ(record.size, content.size()) << name;
        EXPECT_EQ(record.timestamp, ModificationTime(install.Path() + "/" + ManifestNameToPath(name)))
            << name;
    }

    std::size_t setUpLines = 0;
};

// Links are followed, but a directory reached again is not walked again: two
// links back up the tree would otherwise multiply the walk beyond any end.
TEST_F(ManifestScanTest, ScanFindsHiddenAndLinkedFilesOnceWithBackslashNames)
{
    TempDir outside;
    outside.Write("x.pak", "a");
    ASSERT_EQ(symlink("..", install.File("sub/up").fn_str()), 0);
    ASSERT_EQ(symlink("../sub", install.File("sub/again").fn_str()), 0);
    ASSERT_EQ(symlink(outside.Path().fn_str(), install.File("linked").fn_str()), 0);
    manifest.clear();

    EXPECT_TRUE(manifest.Scan());

    std::vector<wxString> names;
    for (const ManifestFileInfo& record : manifest)
        names.push_back(record.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<wxString>{".digest", "a.txt", "linked\\x.pak", "sub\\.deeper\\empty",
                                            "sub\\abc.dat"}));
}

// Exactly the records whose size, time (by one second) or checksum no longer
// agree are hashed.
TEST_F(ManifestScanTest, HashesOnlyWhatChanged)
{
    EXPECT_EQ(HashedSince(0).size(), 4u);
    ExpectCurrent("sub\\.deeper\\empty", "");
    ExpectCurrent("sub\\abc.dat", "abc");

    const std::int64_t aTime = ModificationTime(install.File("a.txt"));
    install.Write("a.txt", "abc");
    SetModificationTime(install.File("a.txt"), aTime);
    const wxString abc = install.File("sub/abc.dat");
    SetModificationTime(abc, ModificationTime(abc) + 1);
    Record(".digest").checksum.clear();

    EXPECT_TRUE(manifest.CheckLocalChanges(nullptr));

    EXPECT_EQ(HashedSince(setUpLines), (std::vector<std::string>{install.File(".digest").utf8_string(),
                                                                 install.File("a.txt").utf8_string(),
                                                                 install.File("sub/abc.dat").utf8_string()}));
    ExpectCurrent("a.txt", "abc");
    ExpectCurrent("sub\\abc.dat", "abc");
    ExpectCurrent(".digest", "message digest");
}

// Unchanged files cost no digest; a missing one is reported and its record kept as it was.
TEST_F(ManifestScanTest, UnchangedAndMissingFilesChangeNothing)
{
    const ManifestFileInfo before = Record("sub\\abc.dat");
    wxRemoveFile(install.File("sub/abc.dat"));

    EXPECT_FALSE(manifest.CheckLocalChanges(nullptr));

    EXPECT_TRUE(HashedSince(setUpLines).empty());
    EXPECT_TRUE(log.Has(wxLOG_Message, "Missing file detected: sub\\abc.dat"));
    const ManifestFileInfo& after = Record("sub\\abc.dat");
    EXPECT_EQ(std::tie(after.checksum, after.size, after.timestamp),
              std::tie(before.checksum, before.size, before.timestamp));
}

TEST_F(ManifestScanTest, StopRequestEndsThePassBeforeTheFirstRecord)
{
    Record("a.txt").checksum.clear();
    EventRecorder gauge;
    ProgressNotifier notifier(&gauge);
    notifier.SetStopRequested(true);

    EXPECT_FALSE(manifest.CheckLocalChanges(&notifier));

    EXPECT_TRUE(HashedSince(setUpLines).empty());
    EXPECT_TRUE(gauge.Values(wxEVT_PROGRESS_UPDATED).empty());
    EXPECT_EQ(Record("a.txt").checksum, "");
}

} // namespace
