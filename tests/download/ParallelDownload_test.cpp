#include "download/ParallelDownload.h"

#include "download/HTTPWrapper.h"
#include "support/Bytes.h"
#include "support/FaultServer.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <map>
#include <tuple>

namespace {

struct Wanted {
    std::string name;
    ByteRange bytes;
};

std::vector<ParallelDownload::Run> Runs(const std::string& baseUrl, const std::vector<Wanted>& wanted)
{
    std::vector<ParallelDownload::Run> runs;
    for (const Wanted& run : wanted) {
        const HTTPWrapper http(baseUrl + run.name);
        runs.push_back({http.Origin(), http.RequestTarget(), run.bytes});
    }
    return runs;
}

// What the reader gets of each run, up to the first that is not whole: "ok"
// (its bytes of files and their end), "wrong" (other bytes), "cut" (a read
// error) or "none" (no run at all).
std::string ReadRuns(ParallelDownload& download, const std::map<std::string, std::string>& files,
                     const std::vector<Wanted>& wanted)
{
    std::string outcomes;
    for (const Wanted& run : wanted) {
        wxInputStream* stream = download.NextRun();
        const StreamContent content = stream ? ReadAll(*stream) : StreamContent();
        const bool right = content.bytes == files.at(run.name).substr(run.bytes.first, run.bytes.Length());
        const char* outcome = !stream                              ? "none"
                              : content.end == wxSTREAM_READ_ERROR ? "cut"
                              : right                              ? "ok"
                                                                   : "wrong";
        outcomes += (outcomes.empty() ? "" : " ") + std::string(outcome);
        if (!outcomes.ends_with("ok"))
            break;
    }
    return outcomes;
}

// Every run arrives whole and in order over two connections, whether the
// server answers several ranges at once (nginx) or not (the fault server:
// with the first range alone, or with the whole file); a run whose request
// fails ends the download there.
TEST(ParallelDownload, HandsOverEachRunInOrderWhateverTheServerMakesOfSeveralRanges)
{
    NginxServer nginx;
    FaultServer faults(nginx.Root().ToStdString());
    const std::map<std::string, std::string> files = {
        {"a.zip", Pattern(0, 3 << 20)}, {"b.zip", Pattern(7, 100000)}, {"missing.zip", ""}};
    nginx.Write("a.zip", files.at("a.zip"));
    nginx.Write("b.zip", files.at("b.zip"));
    const std::vector<Wanted> wanted = {{"a.zip", {10, 99}},
                                        {"a.zip", {20000, 2219999}},
                                        {"a.zip", {2250000, 2299999}},
                                        {"b.zip", {0, 99999}},
                                        {"missing.zip", {0, 9}}};
    const std::pair<std::string, bool> servers[] = {
        {nginx.Url("/"), true}, {faults.Url("/flaky/drop/0/"), false}, {faults.Url("/whole/"), false}};
    for (const auto& [baseUrl, multipart] : servers) {
        SCOPED_TRACE(baseUrl);
        std::atomic<bool> multiRange = true;
        ParallelDownload download(Runs(baseUrl, wanted), 2, nullptr, multiRange);
        EXPECT_EQ(ReadRuns(download, files, wanted), "ok ok ok ok none");
        EXPECT_EQ(multiRange, multipart);
    }
    EXPECT_EQ(nginx.Requests("range=\"bytes=10-99,20000-2219999,2250000-2299999\"", 1), 1);
}

// Well-formed answers with other bytes than those asked for hand the reader
// nothing as whole: a single range counts only as exactly the range asked, a
// multipart answer only once it closes behind its last part. Such a server is
// asked for one range at a time from then on.
TEST(ParallelDownload, AnswersOtherThanTheRangesAskedAreNeverHandedOverAsWhole)
{
    TempDir served;
    const std::map<std::string, std::string> files = {{"a.zip", Pattern(0, 100000)}};
    served.Write("a.zip", files.at("a.zip"));
    FaultServer faults(served.Path().ToStdString());
    const std::vector<Wanted> wanted = {{"a.zip", {10, 99}}, {"a.zip", {20000, 29999}}};
    const std::tuple<std::string, std::string, std::string> rows[] = {
        // path, first download, the retry
        {"/misrange/shift/", "none", "none"},     {"/misrange/short/", "none", "none"},
        {"/misrange/whole/", "none", "none"},     {"/multipart/junk/", "ok cut", "ok ok"},
        {"/multipart/extra/", "ok cut", "ok ok"},
    };
    for (const auto& [path, first, retry] : rows) {
        SCOPED_TRACE(path);
        std::atomic<bool> multiRange = true;
        for (const std::string& expected : {first, retry}) {
            ParallelDownload download(Runs(faults.Url(path), wanted), 1, nullptr, multiRange);
            EXPECT_EQ(ReadRuns(download, files, wanted), expected);
            EXPECT_FALSE(multiRange);
        }
    }
}

} // namespace
