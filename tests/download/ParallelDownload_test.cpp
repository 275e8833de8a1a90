#include "download/ParallelDownload.h"

#include "common/Cancellation.h"
#include "download/HTTPWrapper.h"
#include "download/TransferGate.h"
#include "support/Bytes.h"
#include "support/FaultServer.h"
#include "support/LogCapture.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>
#include <tuple>

namespace {

using Clock = std::chrono::steady_clock;

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
// with the first range alone, with the whole file, or every range with the
// whole file, which is then asked for once), and when every answer is cut
// short, each attempt then asking for the rest alone. A run whose request
// fails ends the download there.
TEST(ParallelDownload, HandsOverEachRunInOrderWhateverTheServerMakesOfRanges)
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
    const std::tuple<std::string, bool, bool> servers[] = {
        // base, several ranges at once, ranges
        {nginx.Url("/"), true, true},
        {faults.Url("/flaky/drop/0/"), false, true},
        {faults.Url("/whole/"), false, true},
        {faults.Url("/misrange/whole/"), false, false},
        {faults.Url("/cut/65536/"), true, true},
    };
    for (const auto& [baseUrl, multiRange, ranges] : servers) {
        SCOPED_TRACE(baseUrl);
        ParallelDownload::ServerAbilities server;
        ParallelDownload download(Runs(baseUrl, wanted), 2, nullptr, server);
        EXPECT_EQ(ReadRuns(download, files, wanted), "ok ok ok ok none");
        EXPECT_EQ(server.multiRange, multiRange);
        EXPECT_EQ(server.ranges, ranges);
    }
    EXPECT_EQ(nginx.Requests("range=\"bytes=10-99,20000-2219999,2250000-2299999\"", 1), 1);
    EXPECT_EQ(faults.Requests("/misrange/whole/a.zip"), 1);
    EXPECT_EQ(faults.Requests("/misrange/whole/b.zip"), 1);
    EXPECT_EQ(faults.Requests("/cut/65536/b.zip bytes=65536-99999"), 1);
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
        {"/misrange/shift/", "none", "none"},
        {"/misrange/short/", "none", "none"},
        {"/multipart/junk/", "ok cut", "ok ok"},
        {"/multipart/extra/", "ok cut", "ok ok"},
    };
    for (const auto& [path, first, retry] : rows) {
        SCOPED_TRACE(path);
        ParallelDownload::ServerAbilities server;
        for (const std::string& expected : {first, retry}) {
            ParallelDownload download(Runs(faults.Url(path), wanted), 1, nullptr, server);
            EXPECT_EQ(ReadRuns(download, files, wanted), expected);
            EXPECT_FALSE(server.multiRange);
            EXPECT_EQ(download.Failure().value_or(ParallelDownload::RequestFailure{}).status,
                      expected.ends_with("ok") ? 0 : 206);
        }
    }
}

// A request that the server refuses fails its run at once, logged with the
// status and the address that the reader gets too.
TEST(ParallelDownload, ARefusedRequestFailsItsRunWithTheStatusAndIsNotAskedAgain)
{
    NginxServer nginx;
    nginx.Write("a.zip", Pattern(0, 1000));
    const std::pair<Wanted, long> rows[] = {{{"missing.zip", {0, 9}}, 404}, {{"a.zip", {1000, 1009}}, 416}};
    for (const auto& [wanted, status] : rows) {
        SCOPED_TRACE(wanted.name);
        LogCapture log;
        ParallelDownload::ServerAbilities server;
        ParallelDownload download(Runs(nginx.Url("/"), {wanted}), 1, nullptr, server);
        EXPECT_EQ(download.NextRun(), nullptr);
        const std::string url = nginx.Url(wanted.name);
        EXPECT_EQ(download.Failure()->url, url);
        EXPECT_EQ(download.Failure()->status, status);
        EXPECT_TRUE(log.Has(wxLOG_Error, "Request failed: " + std::to_string(status) + " for " + url));
        EXPECT_EQ(nginx.Requests("GET /" + wanted.name, 1), 1);
    }
}

// A connection that waits while the reader is busy elsewhere is closed by a
// server that will not wait for it; the rest of its run is asked for again
// and arrives as if nothing had happened.
TEST(ParallelDownload, ARunFetchedAheadSurvivesTheServerClosingItsWaitingConnection)
{
    NginxServer nginx;
    // More than the download and the sockets between hold, so that nginx has to wait.
    const std::map<std::string, std::string> files = {{"a.zip", Pattern(0, 100)},
                                                      {"b.zip", Pattern(1, 24 << 20)}};
    nginx.Write("a.zip", files.at("a.zip"));
    nginx.Write("b.zip", files.at("b.zip"));
    const std::vector<Wanted> wanted = {{"a.zip", {0, 99}}, {"b.zip", {0, (24 << 20) - 1}}};
    ParallelDownload::ServerAbilities server;
    ParallelDownload download(Runs(nginx.Url("/impatient/"), wanted), 2, nullptr, server);
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_EQ(ReadRuns(download, files, wanted), "ok ok");
    EXPECT_GE(nginx.Requests("GET /impatient/b.zip", 2), 2);
}

// A stop ends the download at once while it pauses before asking again.
TEST(ParallelDownload, AStopEndsThePauseBeforeTheNextAttempt)
{
    Cancellation stop;
    ParallelDownload::ServerAbilities server;
    auto download = std::make_unique<ParallelDownload>(Runs("http://127.0.0.1:1/", {{"a.zip", {0, 9}}}), 1,
                                                       &stop, server);
    // Two refused connections later, in the pause of two seconds.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const auto start = Clock::now();
    stop.Request();
    EXPECT_EQ(download->NextRun(), nullptr);
    download.reset();
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
}

// The cap holds for all connections together, not for each: four connections
// share 2 MiB/s, measured over the seconds the download takes.
TEST(ParallelDownload, TheGatesCapHoldsAcrossAllConnections)
{
    NginxServer nginx;
    constexpr int SIZE = 2 << 20;
    std::map<std::string, std::string> files;
    std::vector<Wanted> wanted;
    for (const char* name : {"a.zip", "b.zip", "c.zip", "d.zip"}) {
        files[name] = Pattern(files.size(), SIZE);
        nginx.Write(name, files[name]);
        wanted.push_back({name, {0, SIZE - 1}});
    }
    TransferGate gate;
    gate.SetRate(2 << 20);
    ParallelDownload::ServerAbilities server;
    const auto start = Clock::now();
    ParallelDownload download(Runs(nginx.Url("/"), wanted), 4, nullptr, server, &gate);
    EXPECT_EQ(ReadRuns(download, files, wanted), "ok ok ok ok");
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_NEAR(4 * SIZE / seconds, 2 << 20, 0.15 * (2 << 20));
}

} // namespace
