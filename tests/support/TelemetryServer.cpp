#include "support/TelemetryServer.h"

#include <algorithm>
#include <sstream>

std::string TelemetryServer::Request::Param(const std::string& name) const
{
    std::istringstream pairs(query);
    for (std::string pair; std::getline(pairs, pair, '&');) {
        if (pair.starts_with(name + "="))
            return pair.substr(name.size() + 1);
    }
    return std::string();
}

void TelemetryServer::StallUploads() const
{
    // The script stalls uploads while this file exists.
    Dir().Write("stall", "");
}

std::vector<TelemetryServer::Request> TelemetryServer::Requests() const
{
    std::vector<Request> requests;
    for (const std::string& line : Reports()) { // METHOD IN_PROGRESS QUERY name|filename|hex...
        std::istringstream fields(line);
        Request& request = requests.emplace_back();
        fields >> request.method >> request.inProgress >> request.query;
        if (request.query == "-")
            request.query.clear();
        for (std::string part; fields >> part;) {
            const std::size_t first = part.find('|');
            const std::size_t last = part.rfind('|');
            Part& parsed =
                request.parts.emplace_back(part.substr(0, first), part.substr(first + 1, last - first - 1));
            for (std::size_t at = last + 1; at + 1 < part.size(); at += 2)
                parsed.bytes += static_cast<char>(std::stoi(part.substr(at, 2), nullptr, 16));
        }
    }
    return requests;
}

std::vector<std::pair<std::string, std::string>> TelemetryServer::Events() const
{
    std::vector<std::pair<std::string, std::string>> events;
    for (const Request& request : Requests()) {
        if (request.method == "GET" && request.Param("action") != "get_token")
            events.emplace_back(request.Param("action"), request.Param("updater_result"));
    }
    return events;
}

int TelemetryServer::PeakConcurrentRequests() const
{
    int peak = 0;
    for (const Request& request : Requests())
        peak = std::max(peak, request.inProgress);
    return peak;
}
