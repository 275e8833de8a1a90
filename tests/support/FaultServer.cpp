#include "support/FaultServer.h"

#include <algorithm>

int FaultServer::Requests(const std::string& part) const
{
    const std::vector<std::string> requests = Reports();
    return static_cast<int>(std::ranges::count_if(
        requests, [&](const std::string& line) { return line.find(part) != std::string::npos; }));
}
