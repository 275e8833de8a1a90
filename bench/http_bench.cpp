// Throughput of a download through OpenGet and the download's
// stream filters beside curl's command-line tool fetching the same URL, both
// into nowhere, in one run.
//
//   http_bench [url]    without a URL, nginx serves a 1 GiB file from a
//                       temporary directory on a free loopback port

#include "download/HTTPWrapper.h"
#include "download/LimitedInputStream.h"
#include "download/ProgressInputStream.h"
#include "download/WasteOutputStream.h"
#include "progress/ProgressNotifier.h"

#include <curl/curl.h>
#include <wx/init.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int Rounds = 3;
constexpr std::uint64_t ServedSize = std::uint64_t(1) << 30;

using Clock = std::chrono::steady_clock;

int FreeLoopbackPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

// nginx in the foreground serving a sparse 1 GiB file, gone with the object.
class BenchServer {
public:
    BenchServer()
    {
        char pattern[] = "/tmp/http-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr)
            return;
        dir = pattern;
        std::ofstream(dir + "/file.bin");
        if (truncate((dir + "/file.bin").c_str(), ServedSize) != 0)
            return;
        const int port = FreeLoopbackPort();
        std::ofstream(dir + "/nginx.conf")
            << "daemon off; master_process off; pid " << dir << "/nginx.pid;\n"
            << "error_log " << dir << "/error.log warn;\nevents {}\n"
            << "http { access_log off; client_body_temp_path " << dir << "; sendfile on;\n"
            << "  server { listen 127.0.0.1:" << port << "; root " << dir << "; } }\n";
        pid = fork();
        if (pid == 0) {
            execl("/usr/sbin/nginx", "nginx", "-q", "-p", dir.c_str(), "-c", (dir + "/nginx.conf").c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        url = "http://127.0.0.1:" + std::to_string(port) + "/file.bin";
        for (int tries = 0; tries < 50 && GetRemoteFileSize(url) < 0; ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ~BenchServer()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        if (!dir.empty())
            std::system(("rm -rf '" + dir + "'").c_str());
    }
    const std::string& Url() const { return url; }

private:
    std::string dir;
    std::string url;
    pid_t pid = -1;
};

// Bytes per second of one download through the wrapper and the filters the
// download uses (progress, limit) into the waste stream; 0 on failure.
double WrapperRate(const std::string& url, std::uint64_t size, std::uint64_t& received)
{
    wxEvtHandler window;
    ProgressNotifier notifier(&window);
    notifier.SetRange(static_cast<int>(std::min<std::uint64_t>(size, INT_MAX)));
    const auto start = Clock::now();
    const std::unique_ptr<wxInputStream> body = OpenGet(url);
    if (!body)
        return 0;
    ProgressInputStream counted(body.get(), &notifier);
    LimitedInputStream limited(&counted, size);
    WasteOutputStream waste;
    std::vector<char> buffer(256 * 1024);
    while (limited.Read(buffer.data(), buffer.size()).LastRead() > 0)
        waste.Write(buffer.data(), limited.LastRead());
    received = limited.BytesRead();
    if (received != size || body->GetLastError() == wxSTREAM_READ_ERROR)
        return 0;
    return received / std::chrono::duration<double>(Clock::now() - start).count();
}

double CurlToolRate(const std::string& url, std::uint64_t size)
{
    const auto start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execlp("curl", "curl", "-s", "-o", "/dev/null", url.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return 0;
    return size / std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    wxInitializer toolkit;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    std::unique_ptr<BenchServer> server;
    std::string url;
    if (argc > 1) {
        url = argv[1];
    } else {
        server = std::make_unique<BenchServer>();
        url = server->Url();
    }
    const wxInt64 size = GetRemoteFileSize(url);
    if (size <= 0) {
        std::fprintf(stderr, "cannot reach %s\n", url.c_str());
        return 1;
    }
    double wrapper = 0;
    double tool = 0;
    std::uint64_t received = 0;
    for (int round = 0; round < Rounds; ++round) {
        wrapper = std::max(wrapper, WrapperRate(url, size, received));
        tool = std::max(tool, CurlToolRate(url, size));
    }
    std::printf("%s: %lld bytes, best of %d\n", url.c_str(), static_cast<long long>(size), Rounds);
    std::printf("OpenStream + filters %8.1f MB/s (%llu bytes read)\n", wrapper / 1e6,
                static_cast<unsigned long long>(received));
    std::printf("curl -s -o /dev/null %8.1f MB/s\n", tool / 1e6);
    std::printf("ratio                %8.2f\n", tool > 0 ? wrapper / tool : 0.0);
    curl_global_cleanup();
    return wrapper > 0 && tool > 0 ? 0 : 1;
}
