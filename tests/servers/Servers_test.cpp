// The servers' own behaviour (ranges, sparse files, faults) is exercised by the
// HTTP tests; here only what those cannot see: parallel fixtures never share a
// port, and nothing is left running or on disk afterwards.
#include "support/FaultServer.h"
#include "support/NginxServer.h"

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <wx/filefn.h>

#include <memory>

namespace {

bool Refuses(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool refused = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0;
    close(fd);
    return refused;
}

}  // namespace

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
