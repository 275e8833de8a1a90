#include "download/HTTPWrapper.h"

#include "support/Bytes.h"
#include "support/FaultServer.h"
#include "support/LogCapture.h"
#include "support/NginxServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class HTTPWrapperTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        nginx = new NginxServer;
        faults = new FaultServer;
    }
    static void TearDownTestSuite()
    {
        delete nginx;
        delete faults;
    }

    // The request line of the echoed request.
    static std::string Echo(const std::string& path, const ParameterMap* params)
    {
        auto stream = OpenGet(faults->Url(path), {.params = params});
        const std::string echo = stream ? ReadAll(*stream).bytes : std::string();
        return echo.substr(0, echo.find("\r\n"));
    }

    static NginxServer* nginx;
    static FaultServer* faults;
};

NginxServer* HTTPWrapperTest::nginx = nullptr;
FaultServer* HTTPWrapperTest::faults = nullptr;

TEST_F(HTTPWrapperTest, RefusesAnythingButHttpOrHttpsWithAServer)
{
    const std::string hostPort = "127.0.0.1:1";
    for (const std::string& url : {"HTTP://" + hostPort + "/a", "ftp://" + hostPort + "/a",
                                   std::string("http:///a"), std::string("https:a"), std::string("/a")}) {
        SCOPED_TRACE(url);
        EXPECT_FALSE(HTTPWrapper::IsHttpUrl(url));
        RequestFailure failure = RequestFailure::NONE;
        EXPECT_EQ(OpenGet(url, {}, &failure), nullptr);
        EXPECT_EQ(failure, RequestFailure::BAD_URL);
    }
    EXPECT_TRUE(HTTPWrapper::IsHttpUrl("http://" + hostPort + "/a"));
    EXPECT_TRUE(HTTPWrapper::IsHttpUrl("https://example.org"));
}

// The query follows map order (a key set twice keeps its last value), after
// the URL's own, and escapes only what a request line cannot hold.
TEST_F(HTTPWrapperTest, RequestLineQuery)
{
    ParameterMap params;
    EXPECT_EQ(Echo("/echo", &params), "GET /echo HTTP/1.1");
    params["action"] = "get_token";
    params["GUID"] = "42";
    params["updater_result"] = wxString::FromUTF8("a b&c#d/é");
    params["GUID"] = "43";
    EXPECT_EQ(Echo("/echo?v=1", &params),
              "GET /echo?v=1&GUID=43&action=get_token&updater_result=a%20b&c#d/%c3%a9 HTTP/1.1");
}

// Support reads why; the caller learns which failure it was. Up to five
// redirects are followed, to http or https only.
TEST_F(HTTPWrapperTest, ErrorStatusesNoServerAndRefusedRedirectsFailTheOpen)
{
    const std::pair<std::string, RequestFailure> cases[] = {
        {faults->Url("/status/404"), RequestFailure::ERROR_STATUS},
        {faults->Url("/status/500"), RequestFailure::ERROR_STATUS},
        {"http://127.0.0.1:1/a", RequestFailure::NO_ANSWER},
        {faults->Url("/redirects/6"), RequestFailure::REDIRECT},
        {faults->Url("/status/307?to=ftp://127.0.0.1/a"), RequestFailure::REDIRECT},
    };
    for (const auto& [url, expected] : cases) {
        SCOPED_TRACE(url);
        LogCapture log;
        RequestFailure failure = RequestFailure::NONE;
        EXPECT_EQ(OpenGet(url, {}, &failure), nullptr);
        EXPECT_EQ(failure, expected);
        EXPECT_TRUE(log.Has(wxLOG_Error, "Error requesting input stream: " + url));
    }
    EXPECT_EQ(GetRemoteFileSize("http://127.0.0.1:1/a"), -1);

    auto stream = OpenGet(faults->Url("/redirects/5"));
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(ReadAll(*stream).bytes, "arrived");
}

// Only the first line of a 200 answer, and only a short one, is an answer: an
// endless line is refused after a few KiB.
TEST_F(HTTPWrapperTest, FetchFirstLineReadsOnlyAShortFirstLineOfA200Answer)
{
    const std::string longest(MAX_FIRST_LINE_BYTES, 'v');
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"/lines?text=first%0Asecond%0A", "first"},
        {"/lines?text=first%20word%0D%0Asecond", "first word"},
        {"/lines?text=only", "only"},
        {"/lines?text=%EF%BB%BF1.0", "1.0"},
        {"/chunked?body=3.3.17%0Arest&chunk=2", "3.3.17"},
        {"/lines?text=" + longest + "%0A", longest},
        {"/lines?text=" + longest + "v", std::nullopt},
        {"/chunked?body=1.0&chunk=65536&repeat=1000000000", std::nullopt},
        {"/status/404", std::nullopt},
        {"/close?after=0&size=100", std::nullopt}, // cut off by a closed connection
    };
    for (const auto& [path, expected] : cases) {
        SCOPED_TRACE(path.substr(0, 60));
        wxString line = "stale";
        EXPECT_EQ(FetchFirstLine(line, faults->Url(path)), expected.has_value());
        if (expected) {
            EXPECT_EQ(line, *expected);
        }
    }
}

// An error status says that the server has no signature, which then fails
// the check; an answer that does not come through is a failed download, to
// be tried again, not a refusal. (".sig" lands in the query here.)
TEST_F(HTTPWrapperTest, ASignatureIsTheFirstLineOrNoneAfterAnErrorStatus)
{
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"/lines?text=c2ln", "c2ln.sig"},
        {"/status/404?x=", ""},
        {"/status/500?x=", ""},
        {"/status/302?to=ftp://127.0.0.1/&x=", std::nullopt},
        {"/close?after=0&size=100&x=", std::nullopt},
    };
    for (const auto& [path, expected] : cases) {
        SCOPED_TRACE(path);
        wxString signature = "stale";
        EXPECT_EQ(FetchSignature(signature, faults->Url(path)), expected.has_value());
        if (expected) {
            EXPECT_EQ(signature, *expected);
        }
    }
}

// Takes about 11 s: the no-data limit is 10 s and a slow but live body must outlast it.
TEST_F(HTTPWrapperTest, StallFailsAfterTenSecondsButASlowTrickleSurvives)
{
    auto stream = OpenGet(faults->Url("/stall?after=1000&size=100000"));
    ASSERT_NE(stream, nullptr);

    StreamContent trickled;
    std::thread trickle([&trickled] {
        if (auto stream = OpenGet(faults->Url("/trickle?size=12&bytes=1&interval=1")))
            trickled = ReadAll(*stream);
    });
    const auto start = Clock::now();
    const StreamContent stalled = ReadAll(*stream);
    const double waited = SecondsSince(start);
    EXPECT_EQ(stalled.bytes, Pattern(0, 1000));
    EXPECT_EQ(stalled.end, wxSTREAM_READ_ERROR);
    EXPECT_GE(waited, 9.5);
    EXPECT_LE(waited, 12.0);
    // A failed stream stays failed without waiting again.
    char byte;
    const auto again = Clock::now();
    EXPECT_EQ(stream->Read(&byte, 1).LastRead(), 0u);
    EXPECT_LT(SecondsSince(again), 0.5);

    trickle.join();
    EXPECT_EQ(trickled.bytes, Pattern(0, 12));
    EXPECT_EQ(trickled.end, wxSTREAM_EOF);
}

} // namespace
