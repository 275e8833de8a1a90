#include "update/LocalManifest.h"

#include "ui/LauncherEvents.h"
#include "ui/ProgressNotifier.h"

#include "support/EventRecorder.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <wx/datetime.h>
#include <wx/filefn.h>
#include <wx/filename.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

// RFC 1321 test vectors.
const std::map<std::string, std::string> DIGESTS = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
};

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

// An installation directory and its manifest, with the log of the pass.
class ManifestScanTest : public testing::Test {
protected:
    ManifestScanTest() : manifest(install.Path(), "manifest2.xml") {}

    std::vector<wxString> SortedNames() const
    {
        std::vector<wxString> names;
        for (const ManifestFileInfo& record : manifest)
            names.push_back(record.name);
        std::sort(names.begin(), names.end());
        return names;
    }

    ManifestFileInfo& Record(const wxString& name)
    {
        auto found = std::find_if(manifest.begin(), manifest.end(),
                                  [&](const ManifestFileInfo& record) { return record.name == name; });
        EXPECT_NE(found, manifest.end()) << name;
        return *found;
    }

    // Paths hashed since the log had that many lines, sorted.
    std::vector<std::string> HashedSince(std::size_t firstLine = 0) const
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

    TempDir install;
    LogCapture log;
    LocalManifest manifest;
};

TEST_F(ManifestScanTest, FindsEveryFileAtAnyDepthWithBackslashNames)
{
    for (const char* name : {"a.txt", ".hidden", "sub/b.dat", "sub/.deeper/c", "sub/.deeper/d.pak"})
        install.Write(name, "abc");
    wxFileName::Mkdir(install.File("empty"));

    EXPECT_TRUE(manifest.Scan());

    EXPECT_EQ(SortedNames(), (std::vector<wxString>{".hidden", "a.txt", "sub\\.deeper\\c",
                                                    "sub\\.deeper\\d.pak", "sub\\b.dat"}));
    EXPECT_TRUE(log.Has(wxLOG_Info, "Found sub\\.deeper\\c"));
}

// Links are followed, but a directory reached again is not walked again: two
// links back up the tree would otherwise multiply the walk beyond any end.
TEST_F(ManifestScanTest, SymbolicLinksAreFollowedOnceAndLoopsEnd)
{
    TempDir outside;
    outside.Write("x.pak", "a");
    install.Write("sub/b.dat", "a");
    ASSERT_EQ(symlink("..", install.File("sub/up").fn_str()), 0);
    ASSERT_EQ(symlink("../sub", install.File("sub/again").fn_str()), 0);
    ASSERT_EQ(symlink(outside.Path().fn_str(), install.File("linked").fn_str()), 0);

    EXPECT_TRUE(manifest.Scan());

    EXPECT_EQ(SortedNames(), (std::vector<wxString>{"linked\\x.pak", "sub\\b.dat"}));
}

// A tree whose manifest is fully hashed: every later change must be noticed
// from size and time alone.
class ManifestRefreshTest : public ManifestScanTest {
protected:
    void SetUp() override
    {
        install.Write("a.txt", "a");
        install.Write("sub/abc.dat", "abc");
        install.Write("sub/deep/empty", "");
        install.Write("digest", "message digest");
        manifest.Scan();
        ASSERT_TRUE(manifest.CheckLocalChanges(nullptr));
        setUpLines = log.Lines().size();
    }

    void ExpectCurrent(const wxString& name, const std::string& content)
    {
        const ManifestFileInfo& record = Record(name);
        const wxString path = install.Path() + "/" + ManifestNameToPath(name);
        EXPECT_EQ(record.checksum, DIGESTS.at(content)) << name;
        EXPECT_EQ(record.size, content.size()) << name;
        EXPECT_EQ(record.timestamp, ModificationTime(path)) << name;
    }

    std::size_t setUpLines = 0;
};

TEST_F(ManifestRefreshTest, FreshScanIsHashedWhole)
{
    EXPECT_EQ(HashedSince().size(), 4u);
    ExpectCurrent("a.txt", "a");
    ExpectCurrent("sub\\abc.dat", "abc");
    ExpectCurrent("sub\\deep\\empty", "");
    ExpectCurrent("digest", "message digest");
    EXPECT_TRUE(log.Has(wxLOG_Info, "Manifest size: 4"));
    EXPECT_TRUE(log.Has(wxLOG_Info, "Checking: sub\\deep\\empty"));
    EXPECT_TRUE(log.Has(wxLOG_Message, CHANGED + install.File("sub/deep/empty").utf8_string()));
}

// Exactly the records whose size, time (by one second) or checksum no longer
// agree are hashed.
TEST_F(ManifestRefreshTest, HashesOnlyWhatChanged)
{
    const std::int64_t aTime = ModificationTime(install.File("a.txt"));
    install.Write("a.txt", "abc");
    SetModificationTime(install.File("a.txt"), aTime);
    const wxString abc = install.File("sub/abc.dat");
    SetModificationTime(abc, ModificationTime(abc) + 1);
    Record("digest").checksum.clear();

    EXPECT_TRUE(manifest.CheckLocalChanges(nullptr));

    EXPECT_EQ(HashedSince(setUpLines), (std::vector<std::string>{install.File("a.txt").utf8_string(),
                                                                 install.File("digest").utf8_string(),
                                                                 install.File("sub/abc.dat").utf8_string()}));
    ExpectCurrent("a.txt", "abc");
    ExpectCurrent("sub\\abc.dat", "abc");
    ExpectCurrent("digest", "message digest");
}

// Unchanged files cost no digest; a missing one is reported and its record kept as it was.
TEST_F(ManifestRefreshTest, UnchangedAndMissingFilesChangeNothing)
{
    const ManifestFileInfo before = Record("sub\\abc.dat");
    wxRemoveFile(install.File("sub/abc.dat"));

    EXPECT_FALSE(manifest.CheckLocalChanges(nullptr));

    EXPECT_TRUE(HashedSince(setUpLines).empty());
    EXPECT_TRUE(log.Has(wxLOG_Message, "Missing file detected: sub\\abc.dat"));
    const ManifestFileInfo& after = Record("sub\\abc.dat");
    EXPECT_EQ(after.checksum, before.checksum);
    EXPECT_EQ(after.size, before.size);
    EXPECT_EQ(after.timestamp, before.timestamp);
}

// "." and ".." in a name are resolved by the name alone, against the base
// directory: ".." after a link goes back to where the link is.
TEST_F(ManifestRefreshTest, RelativePartsOfNamesAreResolvedByName)
{
    ASSERT_EQ(symlink("sub/deep", install.File("deeplink").fn_str()), 0);
    manifest.push_back(ManifestFileInfo("deeplink\\.\\..\\sub\\abc.dat", 0, "", 0));
    EXPECT_TRUE(manifest.CheckLocalChanges(nullptr));
    EXPECT_EQ(manifest.back().checksum, DIGESTS.at("abc"));
}

TEST_F(ManifestRefreshTest, StopRequestEndsThePassBeforeTheFirstRecord)
{
    Record("a.txt").checksum.clear();
    EventRecorder gauge;
    ProgressNotifier notifier(&gauge);
    notifier.SetStopRequested(true);

    EXPECT_FALSE(manifest.CheckLocalChanges(&notifier));

    const std::vector<LogCapture::Line> pass(log.Lines().begin() + setUpLines, log.Lines().end());
    ASSERT_EQ(pass.size(), 1u);
    EXPECT_EQ(pass[0].text, "Manifest size: 4");
    EXPECT_TRUE(gauge.Values(wxEVT_PROGRESS_UPDATED).empty());
    EXPECT_EQ(Record("a.txt").checksum, "");
}

} // namespace
