// The simulated LAN's topology options: no default route, and a second LAN.
#include "lan/SimulatedLan.h"

#include <arpa/inet.h>
#include <cerrno>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace orvalink::tools {

namespace {

constexpr unsigned short kPort = 12400;

// 0 when the datagram left, else the errno of the send.
int sendFrom(int fd, const std::string& address)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kPort);
    ::inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    return ::sendto(fd, "x", 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 1 ? 0 : errno;
}

bool receives(int fd)
{
    pollfd p{fd, POLLIN, 0};
    char c;
    return ::poll(&p, 1, 5000) == 1 && ::recv(fd, &c, 1, 0) == 1;
}

} // namespace

TEST(ClosedLanTopology, HostsHaveOnlyTheirNetworksRoutesAndHostOneIsOnBothLans)
{
    std::string why;
    if (!SimulatedLan::available(&why))
        GTEST_SKIP() << "needs a simulated LAN: " << why;
    SimulatedLan::Options options;
    options.defaultRoute = false;
    options.secondLan = {1};
    options.secondLanOnly = {3};
    SimulatedLan lan(3, options);
    const int one = lan.udpSocket(1, 0);
    const int two = lan.udpSocket(2, kPort);
    const int three = lan.udpSocket(3, kPort);
    ASSERT_GE(one, 0);
    ASSERT_GE(two, 0);
    ASSERT_GE(three, 0);

    // No route for the limited broadcast, nor beyond a host's own networks.
    EXPECT_EQ(sendFrom(one, "255.255.255.255"), ENETUNREACH);
    EXPECT_EQ(sendFrom(two, lan.secondLanAddress(3)), ENETUNREACH);
    // Host 1 reaches host 2 on the first LAN and host 3 on the second.
    EXPECT_EQ(sendFrom(one, lan.address(2)), 0);
    EXPECT_TRUE(receives(two));
    EXPECT_EQ(sendFrom(one, lan.secondLanAddress(3)), 0);
    EXPECT_TRUE(receives(three));
    for (int fd : {one, two, three})
        ::close(fd);
}

} // namespace orvalink::tools
