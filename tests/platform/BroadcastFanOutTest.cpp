// The limited broadcast on a network without a gateway: inside the test's own namespace the default
// route is taken away (and a second network added), as on a closed office LAN.
#include "platform/AsyncSocket.h"
#include "support/PrivateNetwork.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <gtest/gtest.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace orvalink::platform {

namespace {

constexpr std::uint16_t kPort = 12321;

bool ip(const std::string& args)
{
    for (const char* p : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"})
        if (::access(p, X_OK) == 0)
            return std::system((std::string(p) + " " + args + " >/dev/null 2>&1").c_str()) == 0;
    return false;
}

// The namespace's v0 (10.0.0.1/24, peer v1) plus w0 (10.0.1.1/24, peer w1): two attached networks.
void addSecondNetwork()
{
    ASSERT_TRUE(ip("link add w0 type veth peer name w1") && ip("addr add 10.0.1.1/24 brd + dev w0") &&
                ip("link set w0 up") && ip("link set w1 up"));
}

// What leaves by an interface: a packet socket on the far end of its veth pair counts the
// broadcasts to kPort that arrive there.
class WireTap {
public:
    explicit WireTap(const char* peer)
    {
        m_fd = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, htons(ETH_P_IP));
        sockaddr_ll at{};
        at.sll_family = AF_PACKET;
        at.sll_protocol = htons(ETH_P_IP);
        at.sll_ifindex = static_cast<int>(::if_nametoindex(peer));
        EXPECT_EQ(::bind(m_fd, reinterpret_cast<const sockaddr*>(&at), sizeof at), 0) << peer;
    }
    ~WireTap() { ::close(m_fd); }
    // The payloads of the broadcasts seen so far, waiting up to quietMs for each further one.
    std::vector<std::string> broadcasts(int quietMs = 300)
    {
        std::vector<std::string> seen;
        pollfd p{m_fd, POLLIN, 0};
        while (::poll(&p, 1, quietMs) == 1) {
            unsigned char frame[2048];
            const ssize_t n = ::recv(m_fd, frame, sizeof frame, 0);
            if (n < 28)
                continue;
            const std::size_t ihl = (frame[0] & 0x0f) * 4u;
            const bool toAll = frame[16] == 255 && frame[17] == 255 && frame[18] == 255 && frame[19] == 255;
            const unsigned port = frame[ihl + 2] * 256u + frame[ihl + 3];
            if (frame[9] == IPPROTO_UDP && toAll && port == kPort && static_cast<std::size_t>(n) >= ihl + 8)
                seen.emplace_back(reinterpret_cast<const char*>(frame) + ihl + 8,
                                  static_cast<std::size_t>(n) - ihl - 8);
        }
        return seen;
    }

private:
    int m_fd = -1;
};

// A group socket as the chat side makes one, read by hand (no notifications).
struct GroupSocket {
    GroupSocket()
    {
        EXPECT_TRUE(socket.create(AsyncSocket::Type::Datagram, kPort, nullptr, 0));
        EXPECT_TRUE(socket.setBroadcast(true));
    }
    int send(const std::string& bytes)
    {
        return socket.sendTo(bytes.data(), static_cast<int>(bytes.size()), kPort, "255.255.255.255", WS_MSG_DONTROUTE);
    }
    // Every datagram that arrives until none has come for quietMs: "address payload".
    std::vector<std::string> received(int quietMs = 300)
    {
        std::vector<std::string> got;
        pollfd p{socket.handle(), POLLIN, 0};
        while (::poll(&p, 1, quietMs) == 1) {
            char buf[2048];
            std::string from;
            unsigned port = 0;
            const int n = socket.receiveFrom(buf, sizeof buf, from, port);
            if (n >= 0)
                got.push_back(from + " " + std::string(buf, static_cast<std::size_t>(n)));
        }
        return got;
    }
    AsyncSocket socket;
};

using Lines = std::vector<std::string>;

// Each test leaves the namespace as it found it (the tests of one program share it).
class BroadcastFanOut : public ::testing::Test {
protected:
    void TearDown() override
    {
        ip("link del w0");
        ip("route replace default dev v0");
    }
};

} // namespace

TEST_F(BroadcastFanOut, WithoutARouteTheBroadcastLeavesByEachNetworkAndComesBackOnce)
{
    ORVALINK_REQUIRE_PRIVATE_NETWORK();
    addSecondNetwork();
    ASSERT_TRUE(ip("route del default"));
    const int v0 = static_cast<int>(::if_nametoindex("v0"));
    const int w0 = static_cast<int>(::if_nametoindex("w0"));
    EXPECT_EQ(AsyncSocket::broadcastInterfaces(), (std::vector<int>{v0, w0}));

    WireTap first("v1");
    WireTap second("w1");
    GroupSocket s;
    // Twice the same bytes and once others: each copy is told apart, none is received twice.
    for (const std::string bytes : {"0001#0001#ON #me#N#", "0001#0001#ON #me#N#", "0001#0001#WR1#me#C#hi"}) {
        EXPECT_EQ(s.send(bytes), static_cast<int>(bytes.size())) << AsyncSocket::lastError();
        EXPECT_EQ(AsyncSocket::lastError(), 0);
    }
    const Lines sent{"0001#0001#ON #me#N#", "0001#0001#ON #me#N#", "0001#0001#WR1#me#C#hi"};
    EXPECT_EQ(first.broadcasts(), sent);
    EXPECT_EQ(second.broadcasts(), sent);
    // The sender's own copy is the one of its first network.
    EXPECT_EQ(s.received(), (Lines{"10.0.0.1 0001#0001#ON #me#N#", "10.0.0.1 0001#0001#ON #me#N#",
                                   "10.0.0.1 0001#0001#WR1#me#C#hi"}));
}

TEST_F(BroadcastFanOut, WithARouteOneSendGoesTheRoutesWay)
{
    ORVALINK_REQUIRE_PRIVATE_NETWORK();
    addSecondNetwork();
    WireTap first("v1");
    WireTap second("w1");
    GroupSocket s;
    EXPECT_EQ(s.send("hello"), 5);
    EXPECT_EQ(first.broadcasts(), Lines{"hello"});
    EXPECT_EQ(second.broadcasts(), Lines{});
    EXPECT_EQ(s.received(), Lines{"10.0.0.1 hello"});
}

} // namespace orvalink::platform
