#include "download/HTTPWrapper.h"

#include "common/Cancellation.h"
#include "support/Bytes.h"
#include "support/FaultServer.h"
#include "support/LogCapture.h"
#include "support/NginxServer.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// A loopback port that accepts connections but never answers: shows whether
// anything tried to connect.
struct SilentListener {
    SilentListener() : fd(socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(fd, reinterpret_cast<sockaddr*>(&address), length);
        listen(fd, 4);
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
    }
    ~SilentListener() { close(fd); }
    bool WasContacted() const
    {
        pollfd pending = {fd, POLLIN, 0};
        return poll(&pending, 1, 100) == 1;
    }
    int fd;
    int port = 0;
};

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

    // Expects success; the wrapper must outlive the stream.
    static std::unique_ptr<wxInputStream> Open(HTTPWrapper& http)
    {
        EXPECT_TRUE(http.Connect());
        std::unique_ptr<wxInputStream> stream(http.OpenStream());
        EXPECT_EQ(http.GetError(), wxPROTO_NOERR);
        EXPECT_NE(stream, nullptr);
        return stream;
    }

    // The request line of the echoed request, the whole echo in full.
    static std::string Echo(const std::string& path, const ParameterMap* params, std::string* full = nullptr)
    {
        HTTPWrapper http(faults->Url(path), {.params = params});
        auto stream = Open(http);
        const std::string echo = stream ? ReadAll(*stream).bytes : std::string();
        if (full != nullptr)
            *full = echo;
        return echo.substr(0, echo.find("\r\n"));
    }

    static wxProtocolError OpenError(const std::string& url)
    {
        HTTPWrapper http(url);
        http.Connect();
        std::unique_ptr<wxInputStream> stream(http.OpenStream());
        EXPECT_EQ(stream == nullptr, http.GetError() != wxPROTO_NOERR);
        return http.GetError();
    }

    static NginxServer* nginx;
    static FaultServer* faults;
};

NginxServer* HTTPWrapperTest::nginx = nullptr;
FaultServer* HTTPWrapperTest::faults = nullptr;

TEST_F(HTTPWrapperTest, RefusesAnythingButHttpWithAServerBeforeConnecting)
{
    SilentListener listener;
    const std::string hostPort = "127.0.0.1:" + std::to_string(listener.port);
    for (const std::string& url :
         {"https://" + hostPort + "/a", "HTTP://" + hostPort + "/a", "ftp://" + hostPort + "/a",
          std::string("http:///a"), std::string("http:a"), std::string("/a")}) {
        SCOPED_TRACE(url);
        HTTPWrapper http(url);
        EXPECT_FALSE(http.IsValid());
        EXPECT_FALSE(HTTPWrapper::IsHttpUrl(url));
        EXPECT_EQ(http.GetError(), wxPROTO_INVVAL);
        EXPECT_FALSE(http.Connect());
        EXPECT_EQ(http.OpenStream(), nullptr);
        EXPECT_EQ(http.GetError(), wxPROTO_INVVAL);
        wxString line;
        EXPECT_FALSE(FetchFirstLine(line, url));
        EXPECT_EQ(GetRemoteFileSize(url), -1);
    }
    EXPECT_FALSE(listener.WasContacted());
    EXPECT_TRUE(HTTPWrapper::IsHttpUrl("http://" + hostPort + "/a"));
    EXPECT_TRUE(HTTPWrapper::IsHttpUrl("http://example.org"));
}

// The query follows map order (a key set twice keeps its last value) and
// escapes only what a request line cannot hold; Range only for a non-zero start.
TEST_F(HTTPWrapperTest, RequestLineQueryAndHeaders)
{
    ParameterMap params;
    EXPECT_EQ(Echo("/echo", &params), "GET /echo HTTP/1.1");
    params["action"] = "get_token";
    params["GUID"] = "42";
    params["updater_result"] = wxString::FromUTF8("a b&c#d/é");
    params["SESSID"] = "x";
    params["GUID"] = "43";
    std::string full;
    EXPECT_EQ(Echo("/echo", &params, &full),
              "GET /echo?GUID=43&SESSID=x&action=get_token&updater_result=a%20b&c#d/%C3%A9 HTTP/1.1");
    EXPECT_EQ(Echo("/echo?v=1", &params).substr(0, 23), "GET /echo?v=1&GUID=43&S");
    EXPECT_NE(full.find("\r\nHost: 127.0.0.1:" + std::to_string(faults->Port()) + "\r\n"), std::string::npos)
        << full;
    EXPECT_EQ(full.find("Range:"), std::string::npos);
}

TEST_F(HTTPWrapperTest, ErrorStatusesAndNoServerFailTheOpen)
{
    const int closedPort = SilentListener().port; // closed again: nothing listens there now
    const std::string closed = "http://127.0.0.1:" + std::to_string(closedPort) + "/a";
    const std::pair<std::string, wxProtocolError> cases[] = {
        {faults->Url("/status/404"), wxPROTO_NOFILE},
        {faults->Url("/status/500"), wxPROTO_NOFILE},
        {faults->Url("/ignore-range?size=5000"), wxPROTO_NOERR},
        {closed, wxPROTO_CONNERR},
    };
    for (const auto& [url, expected] : cases) {
        SCOPED_TRACE(url);
        EXPECT_EQ(OpenError(url), expected);
    }
    EXPECT_EQ(GetRemoteFileSize(closed), -1);

    // Redirections are not followed: the 3xx body is the answer.
    HTTPWrapper http(faults->Url("/status/302"));
    auto stream = Open(http);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(ReadAll(*stream).bytes, "status 302\n");
}

// Only the first line of a 200 answer, and only a short one, is an answer: an
// endless line is refused after a few KiB.
TEST_F(HTTPWrapperTest, FetchFirstLineReadsOnlyAShortFirstLineOfA200Answer)
{
    const std::string longest(MAX_FIRST_LINE_BYTES, 'v');
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"/lines?text=first%0Asecond%0A", "first"},
        {"/lines?text=first%20word%0D%0Asecond", "first word"},
        {"/lines?text=", ""},
        {"/lines?text=only", "only"},
        {"/lines?text=%EF%BB%BF1.0", "1.0"},
        {"/chunked?body=3.3.17%0Arest&chunk=2", "3.3.17"},
        {"/lines?text=" + longest + "%0A", longest},
        {"/lines?text=" + longest + "v", std::nullopt},
        {"/chunked?body=1.0&chunk=65536&repeat=1000000000", std::nullopt},
        {"/status/302", std::nullopt},
        {"/status/404", std::nullopt},
        {"/status/500", std::nullopt},
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

TEST_F(HTTPWrapperTest, SizesBeyondFourGibibytesAreKept)
{
    const std::uint64_t size = (5ULL << 30) + 3;
    nginx->WriteSparse("big.bin", size, "tail");
    EXPECT_EQ(GetRemoteFileSize(nginx->Url("/big.bin")), static_cast<wxInt64>(size));
    EXPECT_EQ(GetRemoteFileSize(faults->Url("/chunked?body=abc")), -1); // no length announced
}

TEST_F(HTTPWrapperTest, LargeBodyArrivesIntactThroughTheBoundedBuffer)
{
    const std::string content = Pattern(0, 9 << 20);
    nginx->Write("data/large.bin", content);
    HTTPWrapper http(nginx->Url("/data/large.bin"));
    auto stream = Open(http);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->GetLength(), static_cast<wxFileOffset>(content.size()));
    // Odd-sized reads and a slow start make the transfer pause and resume.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const StreamContent body = ReadAll(*stream, 40000);
    EXPECT_EQ(body.end, wxSTREAM_EOF);
    EXPECT_TRUE(body.bytes == content) << "got " << body.bytes.size() << " bytes";
}

TEST_F(HTTPWrapperTest, ShortBodyAndCancellationFailTheTransfer)
{
    HTTPWrapper shortBody(faults->Url("/close?after=5000&size=10000"));
    auto stream = Open(shortBody);
    ASSERT_NE(stream, nullptr);
    StreamContent body = ReadAll(*stream);
    EXPECT_EQ(body.bytes, Pattern(0, 5000));
    EXPECT_EQ(body.end, wxSTREAM_READ_ERROR);

    // A cancellation from another thread ends a stalled body, and a request
    // whose answer never comes.
    Cancellation cancellation;
    const auto cancelSoon = [&cancellation] {
        cancellation.Clear();
        return std::thread([&cancellation] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            cancellation.Request();
        });
    };
    HTTPWrapper stalled(faults->Url("/stall?after=100&size=1000"), {.cancellation = &cancellation});
    stream = Open(stalled);
    ASSERT_NE(stream, nullptr);
    std::thread canceller = cancelSoon();
    auto start = Clock::now();
    body = ReadAll(*stream);
    canceller.join();
    EXPECT_EQ(body.bytes.size(), 100u);
    EXPECT_EQ(body.end, wxSTREAM_READ_ERROR);
    EXPECT_LT(SecondsSince(start), 2.0);

    HTTPWrapper silent(faults->Url("/silent/"), {.cancellation = &cancellation});
    canceller = cancelSoon();
    start = Clock::now();
    EXPECT_EQ(silent.OpenStream(), nullptr);
    canceller.join();
    EXPECT_EQ(silent.GetError(), wxPROTO_ABRT);
    EXPECT_LT(SecondsSince(start), 2.0);
}

// Takes about 11 s: the no-data limit is 10 s and a slow but live body must outlast it.
TEST_F(HTTPWrapperTest, StallFailsAfterTenSecondsButASlowTrickleSurvives)
{
    HTTPWrapper http(faults->Url("/stall?after=1000&size=100000"));
    auto stream = Open(http);
    ASSERT_NE(stream, nullptr);

    // The toolkit sets up its bookkeeping of logging threads lazily and not
    // thread-safely: the second worker starts once the first has logged.
    StreamContent trickled;
    std::promise<void> trickleOpened;
    std::thread trickle([&trickled, &trickleOpened] {
        HTTPWrapper http(faults->Url("/trickle?size=12&bytes=1&interval=1"));
        auto stream = Open(http);
        trickleOpened.set_value();
        if (stream)
            trickled = ReadAll(*stream);
    });
    trickleOpened.get_future().wait();
    SilentListener mute; // headers that never come
    wxProtocolError unanswered = wxPROTO_NOERR;
    double unansweredAfter = 0;
    std::thread headers([&] {
        const auto start = Clock::now();
        unanswered = OpenError("http://127.0.0.1:" + std::to_string(mute.port) + "/");
        unansweredAfter = SecondsSince(start);
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

    headers.join();
    EXPECT_EQ(unanswered, wxPROTO_NETERR);
    EXPECT_GE(unansweredAfter, 9.5);
    EXPECT_LE(unansweredAfter, 12.0);
    trickle.join();
    EXPECT_EQ(trickled.bytes, Pattern(0, 12));
    EXPECT_EQ(trickled.end, wxSTREAM_EOF);
}

} // namespace
