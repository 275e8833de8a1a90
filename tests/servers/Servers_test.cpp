#include "support/FaultServer.h"
#include "support/NginxServer.h"

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <wx/filefn.h>

#include <memory>
#include <string>

namespace {

struct Reply {
    CURLcode result = CURLE_OK;
    long status = 0;
    curl_off_t length = -1;
    std::string body;
};

size_t Append(char* data, size_t size, size_t count, void* body)
{
    static_cast<std::string*>(body)->append(data, size * count);
    return size * count;
}

// One GET (or HEAD, headOnly) with libcurl, optionally with a Range header.
Reply Fetch(const std::string& url, const std::string& range = "", bool headOnly = false)
{
    Reply reply;
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Append);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(curl, CURLOPT_NOBODY, headOnly ? 1L : 0L);
    if (!range.empty())
        curl_easy_setopt(curl, CURLOPT_RANGE, range.c_str());
    reply.result = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &reply.length);
    curl_easy_cleanup(curl);
    return reply;
}

int Connect(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool Refuses(int port)
{
    int fd = Connect(port);
    if (fd >= 0)
        close(fd);
    return fd < 0;
}

// Everything that arrives on fd until nothing has come for timeoutMs.
std::string ReadUntilQuiet(int fd, int timeoutMs)
{
    std::string received;
    char buffer[4096];
    pollfd ready = {fd, POLLIN, 0};
    ssize_t got = 0;
    while (poll(&ready, 1, timeoutMs) == 1 && (got = read(fd, buffer, sizeof buffer)) > 0)
        received.append(buffer, static_cast<size_t>(got));
    return received;
}

}  // namespace

TEST(NginxServer, ServesFilesAndByteRanges)
{
    NginxServer server;
    server.Write("dir/file.bin", "0123456789");

    const Reply whole = Fetch(server.Url("dir/file.bin"));
    EXPECT_EQ(200, whole.status);
    EXPECT_EQ("0123456789", whole.body);

    const Reply tail = Fetch(server.Url("/dir/file.bin"), "4-");
    EXPECT_EQ(206, tail.status);
    EXPECT_EQ("456789", tail.body);

    EXPECT_EQ(404, Fetch(server.Url("missing.bin")).status);
}

TEST(NginxServer, ServesSparseFilesBeyondFourGiB)
{
    NginxServer server;
    const std::uint64_t size = (std::uint64_t{1} << 32) + 1000;
    server.WriteSparse("big.bin", size, "END");

    const Reply head = Fetch(server.Url("big.bin"), "", true);
    EXPECT_EQ(200, head.status);
    EXPECT_EQ(static_cast<curl_off_t>(size), head.length);

    const Reply end = Fetch(server.Url("big.bin"), std::to_string(size - 5) + "-");
    EXPECT_EQ(206, end.status);
    EXPECT_EQ(std::string("\0\0END", 5), end.body);
}

TEST(FaultServer, EchoesTheRequestAsReceived)
{
    FaultServer server;
    const Reply echo = Fetch(server.Url("/echo?b=x%20y&A=1"), "1000-");
    EXPECT_EQ(200, echo.status);
    EXPECT_TRUE(echo.body.starts_with("GET /echo?b=x%20y&A=1 HTTP/1.1\r\n")) << echo.body;
    EXPECT_NE(std::string::npos, echo.body.find("\r\nRange: bytes=1000-\r\n")) << echo.body;
    EXPECT_TRUE(echo.body.ends_with("\r\n\r\n"));
}

TEST(FaultServer, AnswersStatusesAndIgnoredRanges)
{
    FaultServer server;
    EXPECT_EQ(404, Fetch(server.Url("/status/404")).status);
    EXPECT_EQ(416, Fetch(server.Url("/status/416")).status);

    const Reply ignored = Fetch(server.Url("/ignore-range?size=300"), "100-");
    EXPECT_EQ(200, ignored.status);
    EXPECT_EQ(FaultServer::Pattern(0, 300), ignored.body);

    const Reply closed = Fetch(server.Url("/close?after=50&size=300"), "100-");
    EXPECT_EQ(CURLE_PARTIAL_FILE, closed.result);
    EXPECT_EQ(206, closed.status);
    EXPECT_EQ(FaultServer::Pattern(100, 50), closed.body);
}

TEST(FaultServer, StallSendsSomeBytesThenNothing)
{
    FaultServer server;
    const int fd = Connect(server.Port());
    ASSERT_GE(fd, 0);
    const std::string request = "GET /stall?after=100&size=1000 HTTP/1.1\r\nHost: x\r\n\r\n";
    ASSERT_EQ(static_cast<ssize_t>(request.size()), write(fd, request.data(), request.size()));

    const std::string received = ReadUntilQuiet(fd, 1000);
    close(fd);
    const size_t body = received.find("\r\n\r\n");
    ASSERT_NE(std::string::npos, body);
    EXPECT_NE(std::string::npos, received.find("Content-Length: 1000\r\n"));
    EXPECT_EQ(FaultServer::Pattern(0, 100), received.substr(body + 4));
}

TEST(Servers, GetPortsOfTheirOwnAndLeaveNothingBehind)
{
    auto nginx = std::make_unique<NginxServer>();
    auto otherNginx = std::make_unique<NginxServer>();
    auto fault = std::make_unique<FaultServer>();
    auto otherFault = std::make_unique<FaultServer>();
    const int ports[] = {nginx->Port(), otherNginx->Port(), fault->Port(), otherFault->Port()};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NE(0, ports[i]);
        for (int j = 0; j < i; ++j)
            EXPECT_NE(ports[i], ports[j]);
    }

    const wxString root = nginx->Root();
    nginx.reset();
    otherNginx.reset();
    fault.reset();
    otherFault.reset();
    for (int port : ports)
        EXPECT_TRUE(Refuses(port)) << port;
    EXPECT_FALSE(wxDirExists(root));
}
