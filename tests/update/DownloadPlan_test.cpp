#include "update/DownloadPlan.h"

#include "support/TempDir.h"
#include "update/InstalledFiles.h"

#include <gtest/gtest.h>

#include <list>
#include <string>
#include <vector>

namespace {

// Records of a release: archive, offset and archive bytes, in list order.
struct Member {
    const char* archive;
    std::uint32_t offset;
    std::uint32_t bytes;
};

// The records of the members in list order, kept in records.
FileList Listed(const std::vector<Member>& members, std::list<ManifestFileInfo>& records)
{
    FileList list;
    for (const Member& member : members) {
        records.emplace_back("f" + std::to_string(records.size()), member.archive, 0, "", member.offset,
                             false, member.bytes);
        list.push_back(&records.back());
    }
    return list;
}

// "target first-last" per run, as the download asks for them.
std::vector<std::string> Plan(const std::vector<Member>& members)
{
    std::list<ManifestFileInfo> records;
    std::vector<std::string> runs;
    for (const ParallelDownload::Run& run : PlanRuns(Listed(members, records), "http://host:8080/update/"))
        runs.push_back(run.origin + run.target + " " + std::to_string(run.bytes.first) + "-" +
                       std::to_string(run.bytes.last));
    return runs;
}

// A gap up to the threshold is read through; one byte more, going back or
// another archive starts a run of its own.
TEST(DownloadPlan, RunsEndWhereTheGapGrowsTooLargeOrTheArchiveChanges)
{
    const std::uint32_t end = 100 + 50;
    const std::string a = "http://host:8080/update/a.zip ";
    const std::string b = "http://host:8080/update/zips/b.zip ";
    const std::pair<std::vector<Member>, std::vector<std::string>> cases[] = {
        {{{"a.zip", 100, 50}, {"a.zip", end, 10}}, {a + "100-159"}},
        {{{"a.zip", 100, 50}, {"a.zip", end + GAP_THRESHOLD, 10}}, {a + "100-12447"}},
        {{{"a.zip", 100, 50}, {"a.zip", end + GAP_THRESHOLD + 1, 10}}, {a + "100-149", a + "12439-12448"}},
        {{{"a.zip", 100, 50}, {"a.zip", 120, 10}}, {a + "100-149", a + "120-129"}},
        {{{"a.zip", 100, 50}, {"zips\\b.zip", end, 10}}, {a + "100-149", b + "150-159"}},
        {{{"a.zip", 100, 50}, {"a.zip", end + 5, 10}, {"a.zip", 40000, 7}},
         {a + "100-164", a + "40000-40006"}},
    };
    for (const auto& [members, runs] : cases)
        EXPECT_EQ(Plan(members), runs) << runs.front();
}

// Each archive is read once, front to back; names compare by UTF-16 code
// units, so upper case comes first; equal places keep their order.
TEST(DownloadPlan, SortsByArchiveThenOffset)
{
    std::list<ManifestFileInfo> records;
    FileList list =
        Listed({{"b.zip", 10, 1}, {"a.zip", 500, 1}, {"a.zip", 20, 1}, {"B.zip", 900, 1}, {"a.zip", 20, 1}},
               records);
    SortForDownload(list);
    std::vector<std::string> order;
    for (const ManifestFileInfo* record : list)
        order.push_back(record->name.ToStdString());
    EXPECT_EQ(order, (std::vector<std::string>{"f3", "f2", "f4", "f1", "f0"}));
}

// Each file is written beside the one it replaces, which is freed afterwards:
// an update may fit only because of what it replaces.
TEST(DownloadPlan, SpaceNeededCountsWhatTheFilesReplace)
{
    TempDir install;
    install.Write("big.bin", std::string(1000, 'o'));
    install.Write("dir/inner", "a directory is not replaced");
    InstalledFiles installed(install.Path());
    const auto sized = [](const char* name, std::uint32_t size, std::uint32_t bytes) {
        ManifestFileInfo record(name, "a.zip", 0, "", 30, true, bytes);
        record.size = size;
        return record;
    };
    ManifestFileInfo shrunk = sized("big.bin", 800, 700), added = sized("new.bin", 900, 900),
                     unsized = sized("other.bin", 0, 300), blocked = sized("dir", 200, 200);
    const std::pair<FileList, std::uint64_t> cases[] = {
        {{&shrunk, &added}, 800},  // 800, then 900 where 200 were freed
        {{&added, &shrunk}, 1700}, // the new file first: 900 + 800 before 1000 go
        {{&unsized}, 300},         {{&blocked, &added}, 1100}, {{}, 0},
    };
    for (const auto& [list, needed] : cases)
        EXPECT_EQ(SpaceNeeded(list, installed), needed) << needed;
}

} // namespace
