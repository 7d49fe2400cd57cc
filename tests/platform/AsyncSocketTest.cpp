#include "platform/AsyncSocket.h"

#include "platform/EventLoopWait.h"
#include "support/PrivateNetwork.h"

#include <arpa/inet.h>
#include <cerrno>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace orvalink::platform {

using orvalink::test::processEventsUntil;

namespace {

// Records every notification with the thread it arrived on. readOnNotify: whether onReceive reads
// the datagram (or the stream data) at once.
class RecordingSocket : public AsyncSocket {
public:
    bool readOnNotify = true;
    std::vector<std::string> received;
    std::vector<std::string> senders;
    std::vector<unsigned> senderPorts;
    int receiveNotes = 0;
    int connectNotes = 0;
    int connectError = -1;
    int closeNotes = 0;
    int closeError = -1;
    std::thread::id notifyThread;

protected:
    void onReceive(int) override
    {
        ++receiveNotes;
        notifyThread = std::this_thread::get_id();
        if (!readOnNotify)
            return;
        char buf[2048];
        if (handleType == Type::Datagram) {
            std::string addr;
            unsigned port = 0;
            const int n = receiveFrom(buf, sizeof buf, addr, port);
            if (n > 0) {
                received.emplace_back(buf, static_cast<std::size_t>(n));
                senders.push_back(addr);
                senderPorts.push_back(port);
            }
        } else {
            const int n = receive(buf, sizeof buf);
            if (n > 0)
                received.emplace_back(buf, static_cast<std::size_t>(n));
        }
    }
    void onConnect(int err) override
    {
        ++connectNotes;
        connectError = err;
        notifyThread = std::this_thread::get_id();
    }
    void onClose(int err) override
    {
        ++closeNotes;
        closeError = err;
    }

public:
    Type handleType = Type::Datagram;
};

std::uint16_t localPort(int fd)
{
    sockaddr_in a{};
    socklen_t l = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &l);
    return ntohs(a.sin_port);
}

// A plain blocking TCP listener on 127.0.0.1 (port chosen by the system).
struct LoopbackListener {
    LoopbackListener()
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd, 4);
        port = localPort(fd);
    }
    ~LoopbackListener() { ::close(fd); }
    int fd;
    std::uint16_t port;
};

} // namespace

TEST(AsyncSocket, ErrnoMapsToWindowsSocketsNumbers)
{
    struct Case {
        int err;
        int wsa;
    };
    const Case cases[] = {
        {0, 0},
        {EWOULDBLOCK, 10035},
        {EAGAIN, 10035},
        {EINPROGRESS, 10035},
        {ECONNREFUSED, 10061},
        {ETIMEDOUT, 10060},
        {EADDRINUSE, 10048},
        {EADDRNOTAVAIL, 10049},
        {ENETUNREACH, 10051},
        {EHOSTUNREACH, 10065},
        {ECONNRESET, 10054},
        {EPIPE, 10054},
        {ECONNABORTED, 10053},
        {ENOTCONN, 10057},
        {EACCES, 10013},
        {EINVAL, 10022},
        {EMSGSIZE, 10040},
        {ENOTSOCK, 10038},
        {ENOBUFS, 10055},
        {EAFNOSUPPORT, 10047},
        {EISCONN, 10056},
        {EALREADY, 10037},
        {EMFILE, 10024},
        {ENETDOWN, 10050},
        {EINTR, 10004},
        {ENOENT, 10022}, // nothing closer: still a failure
    };
    for (const auto& c : cases)
        EXPECT_EQ(AsyncSocket::wsaErrorFromErrno(c.err), c.wsa) << "errno " << c.err;
}

TEST(AsyncSocket, ServicePortLooksUpTheServiceTable)
{
    EXPECT_EQ(AsyncSocket::servicePort("smtp", "tcp"), 25);
    EXPECT_EQ(AsyncSocket::servicePort("pop3", "tcp"), 110);
    EXPECT_EQ(AsyncSocket::servicePort("no-such-service-here", "tcp"), 0);
    EXPECT_EQ(AsyncSocket::servicePort("", "tcp"), 0);
}

TEST(AsyncSocket, CallsOnAClosedSocketFail)
{
    AsyncSocket s;
    char buf[4] = {};
    std::string addr;
    unsigned port = 0;
    EXPECT_FALSE(s.isOpen());
    EXPECT_EQ(s.sendTo(buf, 4, 1, "127.0.0.1"), AsyncSocket::SocketError);
    EXPECT_EQ(AsyncSocket::lastError(), WSAENOTSOCK);
    EXPECT_EQ(s.receiveFrom(buf, 4, addr, port), AsyncSocket::SocketError);
    EXPECT_EQ(s.send(buf, 4), AsyncSocket::SocketError);
    EXPECT_FALSE(s.connect("127.0.0.1", 1));
    EXPECT_EQ(AsyncSocket::lastError(), WSAENOTSOCK);
}

TEST(AsyncSocket, BindingAPortInUseFailsWithAddressInUse)
{
    ORVALINK_REQUIRE_PRIVATE_NETWORK();
    AsyncSocket first, second;
    ASSERT_TRUE(first.create(AsyncSocket::Type::Datagram, 12121));
    EXPECT_FALSE(second.create(AsyncSocket::Type::Datagram, 12121));
    EXPECT_EQ(AsyncSocket::lastError(), 10048);
    EXPECT_FALSE(second.isOpen());
    first.close();
    EXPECT_TRUE(second.create(AsyncSocket::Type::Datagram, 12121)) << "closing frees the port";
    AsyncSocket bad;
    EXPECT_FALSE(bad.create(AsyncSocket::Type::Datagram, 0, "10.9.9.9"));
    EXPECT_EQ(AsyncSocket::lastError(), 10049);
}

TEST(AsyncSocket, BroadcastFromAnotherThreadLoopsBackToTheCreatingThread)
{
    ORVALINK_REQUIRE_PRIVATE_NETWORK();
    RecordingSocket s;
    ASSERT_TRUE(s.create(AsyncSocket::Type::Datagram, 12121));
    ASSERT_TRUE(s.setBroadcast(true));
    const std::string payload = "0001#0001#WR1#name#C#\x82\xA0";
    int sent = 0;
    int sendError = -1;
    std::thread sender([&] {
        sent = s.sendTo(payload.data(), static_cast<int>(payload.size()), 12121, "255.255.255.255", WS_MSG_DONTROUTE);
        sendError = AsyncSocket::lastError();
    });
    sender.join();
    EXPECT_EQ(sent, static_cast<int>(payload.size())) << "error " << sendError;
    ASSERT_TRUE(processEventsUntil([&] { return !s.received.empty(); }));
    EXPECT_EQ(s.received[0], payload);
    EXPECT_EQ(s.senders[0], orvalink::test::kPrivateHostAddress);
    EXPECT_EQ(s.senderPorts[0], 12121u);
    EXPECT_EQ(s.notifyThread, std::this_thread::get_id());
}

TEST(AsyncSocket, BroadcastNeedsTheBroadcastOption)
{
    ORVALINK_REQUIRE_PRIVATE_NETWORK();
    AsyncSocket s;
    ASSERT_TRUE(s.create(AsyncSocket::Type::Datagram, 12122));
    EXPECT_EQ(s.sendTo("x", 1, 12122, "255.255.255.255", WS_MSG_DONTROUTE), AsyncSocket::SocketError);
    EXPECT_EQ(AsyncSocket::lastError(), WSAEACCES);
    EXPECT_EQ(s.sendTo("x", 1, 12122, "10.0.0.1", 0x100), AsyncSocket::SocketError) << "unknown flag";
    EXPECT_EQ(AsyncSocket::lastError(), WSAEOPNOTSUPP);
}

TEST(AsyncSocket, ReadNotificationWaitsUntilTheDataIsRead)
{
    ORVALINK_REQUIRE_PRIVATE_NETWORK();
    RecordingSocket s;
    s.readOnNotify = false;
    ASSERT_TRUE(s.create(AsyncSocket::Type::Datagram, 12123));
    AsyncSocket peer;
    ASSERT_TRUE(peer.create(AsyncSocket::Type::Datagram));
    ASSERT_EQ(peer.sendTo("one", 3, 12123, "127.0.0.1"), 3);
    ASSERT_EQ(peer.sendTo("two", 3, 12123, "127.0.0.1"), 3);
    ASSERT_TRUE(processEventsUntil([&] { return s.receiveNotes > 0; }));
    processEventsUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_EQ(s.receiveNotes, 1) << "notified again although nothing was read";
    s.readOnNotify = true;
    char buf[16];
    std::string addr;
    unsigned port = 0;
    EXPECT_EQ(s.receiveFrom(buf, sizeof buf, addr, port), 3);
    EXPECT_EQ(port, localPort(peer.handle()));
    ASSERT_TRUE(processEventsUntil([&] { return s.received.size() == 1; }));
    EXPECT_EQ(s.received[0], "two");
}

TEST(AsyncSocket, OversizedDatagramIsCutAndReportedAsMessageSize)
{
    ORVALINK_REQUIRE_PRIVATE_NETWORK();
    AsyncSocket s, peer;
    ASSERT_TRUE(s.create(AsyncSocket::Type::Datagram, 12124, "127.0.0.1", 0));
    ASSERT_TRUE(peer.create(AsyncSocket::Type::Datagram));
    ASSERT_EQ(peer.sendTo("0123456789", 10, 12124, "localhost"), 10);
    char buf[4];
    std::string addr;
    unsigned port = 0;
    ASSERT_TRUE(processEventsUntil([&] {
        const int n = s.receiveFrom(buf, sizeof buf, addr, port);
        return n != AsyncSocket::SocketError || AsyncSocket::lastError() != WSAEWOULDBLOCK;
    }));
    EXPECT_EQ(AsyncSocket::lastError(), WSAEMSGSIZE);
    EXPECT_EQ(std::string(buf, 4), "0123");
    EXPECT_EQ(addr, "127.0.0.1");
}

TEST(AsyncSocket, StreamConnectsReceivesAndSeesTheOrderlyCloseOnce)
{
    ORVALINK_REQUIRE_PRIVATE_NETWORK();
    LoopbackListener listener;
    RecordingSocket c;
    c.handleType = AsyncSocket::Type::Stream;
    ASSERT_TRUE(c.create(AsyncSocket::Type::Stream));
    ASSERT_TRUE(c.connect("127.0.0.1", listener.port));
    EXPECT_EQ(c.connectNotes, 0) << "the outcome is a later notification";
    ASSERT_TRUE(processEventsUntil([&] { return c.connectNotes > 0; }));
    EXPECT_EQ(c.connectError, 0);
    EXPECT_EQ(c.notifyThread, std::this_thread::get_id());

    const int server = ::accept(listener.fd, nullptr, nullptr);
    ASSERT_GE(server, 0);
    EXPECT_EQ(c.send("USER x\r\n", 8), 8);
    char buf[16] = {};
    EXPECT_EQ(::recv(server, buf, sizeof buf, 0), 8);
    EXPECT_EQ(::send(server, "+OK\r\n", 5, 0), 5);
    ASSERT_TRUE(processEventsUntil([&] { return !c.received.empty(); }));
    EXPECT_EQ(c.received[0], "+OK\r\n");
    ::close(server);
    ASSERT_TRUE(processEventsUntil([&] { return c.closeNotes > 0; }));
    processEventsUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_EQ(c.closeNotes, 1);
    EXPECT_EQ(c.closeError, 0);
    EXPECT_EQ(c.connectNotes, 1);
}

TEST(AsyncSocket, ConnectToAClosedPortIsRefused)
{
    ORVALINK_REQUIRE_PRIVATE_NETWORK();
    std::uint16_t port;
    {
        LoopbackListener gone;
        port = gone.port;
    }
    RecordingSocket c;
    ASSERT_TRUE(c.create(AsyncSocket::Type::Stream));
    ASSERT_TRUE(c.connect("127.0.0.1", port));
    ASSERT_TRUE(processEventsUntil([&] { return c.connectNotes > 0; }));
    EXPECT_EQ(c.connectError, 10061);
    EXPECT_EQ(c.connectNotes, 1);
}

TEST(AsyncSocket, ConnectResolvesNamesAndRejectsWhatCannotConnect)
{
    ORVALINK_REQUIRE_PRIVATE_NETWORK();
    LoopbackListener listener;
    RecordingSocket c;
    ASSERT_TRUE(c.create(AsyncSocket::Type::Stream));
    ASSERT_TRUE(c.connect("localhost", listener.port));
    ASSERT_TRUE(processEventsUntil([&] { return c.connectNotes > 0; }));
    EXPECT_EQ(c.connectError, 0);

    RecordingSocket d;
    ASSERT_TRUE(d.create(AsyncSocket::Type::Stream));
    EXPECT_FALSE(d.connect("", 110));
    EXPECT_EQ(AsyncSocket::lastError(), WSAEINVAL);
    AsyncSocket datagram;
    ASSERT_TRUE(datagram.create(AsyncSocket::Type::Datagram));
    EXPECT_FALSE(datagram.connect("127.0.0.1", listener.port)) << "connect is for stream sockets";
    EXPECT_EQ(d.connectNotes, 0);
}

TEST(AsyncSocket, SendToAPeerThatWentAwayFailsWithoutKillingTheProcess)
{
    ORVALINK_REQUIRE_PRIVATE_NETWORK();
    LoopbackListener listener;
    RecordingSocket c;
    ASSERT_TRUE(c.create(AsyncSocket::Type::Stream));
    ASSERT_TRUE(c.connect("127.0.0.1", listener.port));
    ASSERT_TRUE(processEventsUntil([&] { return c.connectNotes > 0; }));
    const int server = ::accept(listener.fd, nullptr, nullptr);
    ::close(server);
    ASSERT_TRUE(processEventsUntil([&] { return c.closeNotes > 0; }));
    int result = 0;
    for (int i = 0; i < 5 && result != AsyncSocket::SocketError; ++i)
        result = c.send("data", 4);
    EXPECT_EQ(result, AsyncSocket::SocketError); // SIGPIPE would have ended the test program here
    EXPECT_EQ(AsyncSocket::lastError(), WSAECONNRESET);
}

} // namespace orvalink::platform
