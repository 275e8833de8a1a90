#include "support/TelemetryServer.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

namespace {

constexpr int REPLY_TIMEOUT_MS = 10000;

bool WaitReadable(int fd)
{
    pollfd ready = {fd, POLLIN, 0};
    return poll(&ready, 1, REPLY_TIMEOUT_MS) == 1;
}

} // namespace

std::string TelemetryServer::Request::Param(const std::string& name) const
{
    for (const auto& [key, value] : query) {
        if (key == name)
            return value;
    }
    return std::string();
}

std::string TelemetryServer::Request::QueryText() const
{
    std::string text;
    for (const auto& [name, value] : query)
        text += (text.empty() ? "" : "&") + name + "=" + value;
    return text;
}

TelemetryServer::TelemetryServer()
{
    script = StartServerScript("telemetry_server.py");
    port = std::atoi(ReadLine().c_str());
    if (port == 0)
        ADD_FAILURE() << "the telemetry server did not start (is python3 installed?)";
}

TelemetryServer::~TelemetryServer()
{
    StopServerScript(script);
}

std::string TelemetryServer::Url() const
{
    return "http://127.0.0.1:" + std::to_string(port) + "/telemetry.php";
}

void TelemetryServer::AnswerWith(Answer answer)
{
    static const char* const names[] = {"ok", "error", "stall"};
    Send(std::string("answer ") + names[static_cast<int>(answer)]);
    EXPECT_EQ(ReadLine(), "ok");
}

std::vector<TelemetryServer::Request> TelemetryServer::Requests()
{
    Send("requests");
    std::vector<Request> requests(std::atoi(ReadLine().c_str()));
    for (Request& request : requests) {
        std::size_t queryCount = 0;
        std::size_t partCount = 0;
        std::istringstream(ReadLine()) >> request.method >> request.path >> queryCount >> partCount;
        for (std::size_t i = 0; i < queryCount; ++i) {
            const std::string line = ReadLine();
            const std::size_t space = line.find(' ');
            request.query.emplace_back(line.substr(0, space), line.substr(space + 1));
        }
        for (std::size_t i = 0; i < partCount; ++i) {
            const std::string head = ReadLine(); // name|filename|size
            const std::size_t first = head.find('|');
            const std::size_t last = head.rfind('|');
            Part part{head.substr(0, first), head.substr(first + 1, last - first - 1), ""};
            part.bytes = ReadBytes(std::strtoull(head.c_str() + last + 1, nullptr, 10));
            ReadLine();
            request.parts.push_back(std::move(part));
        }
    }
    return requests;
}

std::vector<std::pair<std::string, std::string>> TelemetryServer::Events()
{
    std::vector<std::pair<std::string, std::string>> events;
    for (const Request& request : Requests()) {
        if (request.method == "GET" && request.Param("action") != "get_token")
            events.emplace_back(request.Param("action"), request.Param("updater_result"));
    }
    return events;
}

int TelemetryServer::PeakConcurrentRequests()
{
    Send("peak");
    return std::atoi(ReadLine().c_str());
}

void TelemetryServer::Send(const std::string& command)
{
    const std::string line = command + "\n";
    if (script.input < 0 ||
        write(script.input, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        ADD_FAILURE() << "could not send '" << command << "' to the telemetry server";
}

std::string TelemetryServer::ReadLine()
{
    std::string line;
    if (!ReadServerLine(script.output, line, std::chrono::milliseconds(REPLY_TIMEOUT_MS)))
        ADD_FAILURE() << "the telemetry server did not answer";
    return line;
}

std::string TelemetryServer::ReadBytes(std::size_t count)
{
    std::string bytes(count, '\0');
    std::size_t done = 0;
    while (done < count && WaitReadable(script.output)) {
        const ssize_t got = read(script.output, bytes.data() + done, count - done);
        if (got <= 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    if (done < count)
        ADD_FAILURE() << "the telemetry server sent " << done << " of " << count << " bytes";
    bytes.resize(done);
    return bytes;
}
