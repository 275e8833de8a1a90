#include "support/TelemetryServer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

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
    static const char* const names[] = {"ok", "stall"};
    Send(std::string("answer ") + names[static_cast<int>(answer)]);
    EXPECT_EQ(ReadLine(), "ok");
}

std::vector<TelemetryServer::Request> TelemetryServer::Requests()
{
    Send("requests");
    std::vector<Request> requests(std::atoi(ReadLine().c_str()));
    for (Request& request : requests) {
        std::istringstream fields(ReadLine());
        std::string query;
        fields >> request.method >> request.path >> query;
        std::istringstream pairs(query == "-" ? "" : query);
        for (std::string pair; std::getline(pairs, pair, '&');) {
            const std::size_t equals = pair.find('=');
            request.query.emplace_back(pair.substr(0, equals),
                                       equals == std::string::npos ? "" : pair.substr(equals + 1));
        }
        for (std::string part; fields >> part;) { // name|filename|hex
            const std::size_t first = part.find('|');
            const std::size_t last = part.rfind('|');
            Part parsed{part.substr(0, first), part.substr(first + 1, last - first - 1), ""};
            for (std::size_t at = last + 1; at + 1 < part.size(); at += 2)
                parsed.bytes += static_cast<char>(std::stoi(part.substr(at, 2), nullptr, 16));
            request.parts.push_back(std::move(parsed));
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
    if (!ReadServerLine(script.output, line, std::chrono::seconds(10)))
        ADD_FAILURE() << "the telemetry server did not answer";
    return line;
}
