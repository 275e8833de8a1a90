// What the servers serve is exercised by the HTTP tests; here only what those
// cannot see: parallel fixtures never share a port, and nothing is left
// running or on disk afterwards.
#include "support/FaultServer.h"
#include "support/NginxServer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <wx/filefn.h>

#include <memory>
#include <set>

TEST(Servers, GetPortsOfTheirOwnAndLeaveNothingBehind)
{
    auto nginx = std::make_unique<NginxServer>(), otherNginx = std::make_unique<NginxServer>();
    auto fault = std::make_unique<FaultServer>(), otherFault = std::make_unique<FaultServer>();
    const std::set<int> ports = {0, nginx->Port(), otherNginx->Port(), fault->Port(), otherFault->Port()};
    EXPECT_EQ(ports.size(), 5u) << "a port shared or 0";

    const wxString root = nginx->Root();
    nginx.reset(), otherNginx.reset(), fault.reset(), otherFault.reset();
    for (int port : ports) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_NE(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0)
            << port << " still open";
        close(fd);
    }
    EXPECT_FALSE(wxDirExists(root));
}
