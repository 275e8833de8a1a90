#include "update/LocalManifest.h"

#include "common/MD5.h"
#include "progress/LauncherEvents.h"
#include "progress/ProgressNotifier.h"

#include "support/EventRecorder.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <wx/datetime.h>
#include <wx/filename.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

namespace {

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
class ManifestScanTest : public testing::Test {
protected:
    ManifestScanTest() : manifest(install.Path(), "manifest2.xml") {}

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

    TempDir install;
    LogCapture log;
    LocalManifest manifest;
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
