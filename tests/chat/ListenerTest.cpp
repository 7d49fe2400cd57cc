#include "chat/CNetMsgDlg.h"
#include "chat/CNetMsgThread.h"
#include "chat/ChatReceiver.h"
#include "chat/ChatTestSupport.h"
#include "chat/wire/ChatDatagram.h"
#include "platform/Dispatch.h"
#include "platform/Messages.h"
#include "support/PrivateNetwork.h"

#include <algorithm>
#include <atomic>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace orvalink::chat {

using platform::WM_CHAT_SEND_GROUP;
using platform::WM_CHAT_SEND_PERSONAL;

// Every datagram this program sends goes through here: the flags of each send from a socket bound
// to a chat port are recorded, then the C library's sendto does the work.
namespace {
std::mutex g_sendsMutex;
std::vector<std::pair<unsigned, int>> g_sends; // (source port, flags)
} // namespace

extern "C" ssize_t sendto(int fd, const void* buf, size_t len, int flags, const sockaddr* to, socklen_t toLen)
{
    using Real = ssize_t (*)(int, const void*, size_t, int, const sockaddr*, socklen_t);
    static const Real real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "sendto"));
    sockaddr_in own{};
    socklen_t ownLen = sizeof own;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&own), &ownLen) == 0 && own.sin_family == AF_INET) {
        std::lock_guard lock(g_sendsMutex);
        g_sends.emplace_back(ntohs(own.sin_port), flags);
    }
    return real(fd, buf, len, flags, to, toLen);
}

namespace {

struct Received {
    int group;
    std::string text;
    std::string address;
    unsigned port;
};

class Listeners : public ::testing::Test {
protected:
    void SetUp() override
    {
        ORVALINK_REQUIRE_PRIVATE_NETWORK();
        sandbox.chatTable.setReceiver(&sink);
    }
    void TearDown() override
    {
        for (int g = 0; g < sandbox.chatTable.groupCount; ++g)
            sandbox.chatTable.stopListener(g, true);
        sandbox.chatTable.setReceiver(nullptr);
    }

    bool waitForCount(std::size_t n)
    {
        return QTest::qWaitFor([&] { return received.size() >= n; }, 5000);
    }
    // Sends a marker datagram to port from a peer of its own and waits until it has been handed on,
    // then forgets it: one socket hands its datagrams on in order, so whatever reached that port
    // before the marker has been handed on by then. Bounds "nothing else arrived" without a wait.
    bool passMarker(unsigned short port)
    {
        static int markers = 0;
        const std::string text = "WR1#marker#C#" + std::to_string(++markers);
        RawPeer peer(0);
        if (!peer.sendTo("0001#0001#" + text, orvalink::test::kPrivateHostAddress, port))
            return false;
        const auto isMarker = [&](const Received& r) { return r.text == text; };
        const bool seen =
            QTest::qWaitFor([&] { return std::any_of(received.begin(), received.end(), isMarker); }, 5000);
        received.erase(std::remove_if(received.begin(), received.end(), isMarker), received.end());
        return seen;
    }
    std::vector<std::string> textsOf(int group) const
    {
        std::vector<std::string> v;
        for (const auto& r : received)
            if (r.group == group)
                v.push_back(r.text);
        return v;
    }

    ProfileSandbox sandbox;
    platform::MessageBoxRecorder boxes;
    std::vector<Received> received;
    // Where the listeners hand their texts (a test may put another function in it).
    TextSink sink{[this](int g, std::string_view text, const std::string& a, unsigned p) {
        received.push_back({g, std::string(text), a, p});
    }};
};

TEST_F(Listeners, EachGroupGetsItsOwnSocketAndAnnouncesItself)
{
    configureGroup(sandbox.chatTable, 0, "12121", "A", "me");
    configureGroup(sandbox.chatTable, 1, "12122", "B", "me2");
    sandbox.chatTable.startListener(0);
    sandbox.chatTable.startListener(1);
    ASSERT_TRUE(waitForCount(4));
    ASSERT_TRUE(passMarker(12121));
    ASSERT_TRUE(passMarker(12122));

    // The broadcasts come back to this host: in each group the presence announcement, then the
    // join notice, each from the group's own port (the port is the group).
    ASSERT_EQ(received.size(), 4u);
    EXPECT_EQ(textsOf(0), (std::vector<std::string>{"ON #me#N#", "ON #me#C#"}));
    EXPECT_EQ(textsOf(1), (std::vector<std::string>{"ON #me2#N#", "ON #me2#C#"}));
    for (const auto& r : received) {
        EXPECT_EQ(r.address, orvalink::test::kPrivateHostAddress);
        EXPECT_EQ(r.port, r.group == 0 ? 12121u : 12122u);
    }

    // A datagram to one group's port lands in that group only, handed on with its sender port.
    received.clear();
    RawPeer peer(30000);
    ASSERT_TRUE(peer.sendTo("0001#0001#WR1#peer#C#hello", orvalink::test::kPrivateHostAddress, 12122));
    ASSERT_TRUE(waitForCount(1));
    ASSERT_TRUE(passMarker(12121));
    ASSERT_TRUE(passMarker(12122));
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].group, 1);
    EXPECT_EQ(received[0].text, "WR1#peer#C#hello");
    EXPECT_EQ(received[0].port, 30000u);
    EXPECT_TRUE(boxes.calls().empty());
}

// Two tables in one process (two tests, or two instances of the program) each hear only their own
// listeners. A handler set while a listener runs takes over at once; without one the texts are
// dropped.
TEST_F(Listeners, EachTableHandsItsListenersTextsToItsOwnHandler)
{
    std::vector<std::string> heardByOther;
    TextSink otherSink([&](int g, std::string_view text, const std::string&, unsigned) {
        heardByOther.push_back(std::to_string(g) + " " + std::string(text));
    });
    std::vector<std::string> heardLater;
    TextSink later([&](int, std::string_view text, const std::string&, unsigned) { heardLater.emplace_back(text); });
    ChatGroupTable other;
    other.setReceiver(&otherSink);
    configureGroup(sandbox.chatTable, 0, "12121", "A", "me");
    configureGroup(other, 0, "12122", "B", "you");
    sandbox.chatTable.startListener(0);
    other.startListener(0);
    ASSERT_TRUE(waitForCount(2));
    ASSERT_TRUE(QTest::qWaitFor([&] { return heardByOther.size() >= 2; }, 5000));
    ASSERT_TRUE(passMarker(12121));
    EXPECT_EQ(textsOf(0), (std::vector<std::string>{"ON #me#N#", "ON #me#C#"}));
    EXPECT_EQ(heardByOther, (std::vector<std::string>{"0 ON #you#N#", "0 ON #you#C#"}));

    received.clear();
    heardByOther.clear();
    RawPeer peer(30000);
    other.setReceiver(&later);
    ASSERT_TRUE(peer.sendTo("0001#0001#WR1#peer#C#one", orvalink::test::kPrivateHostAddress, 12122));
    ASSERT_TRUE(QTest::qWaitFor([&] { return heardLater.size() >= 1; }, 5000));
    other.setReceiver(nullptr);
    // "two" is the only datagram waiting: once its socket has woken up, it has been handed on
    // (to nobody) and the handler is put back only then.
    CNetMsgDlg* otherWindow = other.listener(0)->window();
    const int wakeups = otherWindow->receiveWakeups();
    ASSERT_TRUE(peer.sendTo("0001#0001#WR1#peer#C#two", orvalink::test::kPrivateHostAddress, 12122));
    ASSERT_TRUE(QTest::qWaitFor([&] { return otherWindow->receiveWakeups() > wakeups; }, 5000));
    other.setReceiver(&later);
    ASSERT_TRUE(peer.sendTo("0001#0001#WR1#peer#C#three", orvalink::test::kPrivateHostAddress, 12122));
    ASSERT_TRUE(QTest::qWaitFor([&] { return heardLater.size() >= 2; }, 5000));
    ASSERT_TRUE(passMarker(12121));
    EXPECT_EQ(heardLater, (std::vector<std::string>{"WR1#peer#C#one", "WR1#peer#C#three"}));
    EXPECT_TRUE(heardByOther.empty());
    EXPECT_TRUE(received.empty());
    other.stopListener(0, false);
}

TEST_F(Listeners, UnusablePortsReportSocketCreationFailedAndTheNextGroupStarts)
{
    RawPeer squatter(12121); // another program holds the port
    ASSERT_TRUE(squatter.bound());
    configureGroup(sandbox.chatTable, 0, "12121", "taken", "me");
    configureGroup(sandbox.chatTable, 1, "0", "zero", "me");
    configureGroup(sandbox.chatTable, 2, "70000", "too big", "me");
    configureGroup(sandbox.chatTable, 3, "", "empty", "me");
    configureGroup(sandbox.chatTable, 4, "12125abc", "digits then letters", "me5");
    for (int g = 0; g < 5; ++g)
        sandbox.chatTable.startListener(g);

    const auto calls = boxes.calls();
    ASSERT_EQ(calls.size(), 4u);
    for (const auto& c : calls) {
        EXPECT_EQ(c.text, "Socket creation failed");
        EXPECT_EQ(c.caption, "Orvalink");
    }
    // The port text is read by its leading digits, so group 4 runs on 12125 and what arrives on
    // that port belongs to it.
    ASSERT_TRUE(waitForCount(2));
    EXPECT_EQ(received[0].text, "ON #me5#N#");
    EXPECT_EQ(received[0].port, 12125u);
    EXPECT_EQ(sandbox.chatTable.groupByPort(12125), 4);
    EXPECT_EQ(sandbox.chatTable.groupByPort(12121), 0);
    EXPECT_EQ(sandbox.chatTable.groupByPort(0), -1);
}

TEST_F(Listeners, SendsGroupAndPersonalMessagesThroughTheListenerThread)
{
    configureGroup(sandbox.chatTable, 0, "12121", "A", "me");
    CNetMsgThread* t = sandbox.chatTable.startListener(0);
    ASSERT_TRUE(waitForCount(2));
    received.clear();

    // Cross-thread sends block until the listener has sent.
    platform::sendMessage(t->window(), {WM_CHAT_SEND_GROUP, std::string("a#b\r\nc"), {}});
    platform::sendMessage(t->window(), {WM_CHAT_SEND_PERSONAL, std::string("just you"), std::string("10.0.0.1")});
    // Not dotted IPv4 addresses, or too long: nothing goes out.
    for (const char* bad : {"10.0.0.1.1", "999.0.0.1", "10.0.0.1      x", "host", ""})
        platform::sendMessage(t->window(), {WM_CHAT_SEND_PERSONAL, std::string("never"), std::string(bad)});
    platform::sendMessage(t->window(), {WM_CHAT_SEND_GROUP, std::string("last"), {}});

    ASSERT_TRUE(waitForCount(3));
    ASSERT_TRUE(passMarker(12121));
    EXPECT_EQ(textsOf(0), (std::vector<std::string>{"WR1#me#C#a#b\r\nc", "WR2#me#C#just you", "WR1#me#C#last"}));
}

TEST_F(Listeners, MultiPartDatagramsAreJoinedAndBrokenOnesDropped)
{
    configureGroup(sandbox.chatTable, 0, "12121", "A", "me");
    sandbox.chatTable.startListener(0);
    ASSERT_TRUE(waitForCount(2));
    received.clear();

    RawPeer peer(30001);
    peer.sendTo("0001#0002#WR1#n#C#hel", "10.0.0.1", 12121);
    peer.sendTo("0002#0002#lo", "10.0.0.1", 12121);
    peer.sendTo("0001#", "10.0.0.1", 12121);
    peer.sendTo("0001#0002#stray", "10.0.0.1", 12121);
    RawPeer other(30002);
    ASSERT_TRUE(QTest::qWaitFor([&] { return received.size() >= 1; }, 5000));
    other.sendTo("0001#0001#WR1#o#C#clean", "10.0.0.1", 12121);
    ASSERT_TRUE(waitForCount(2));
    ASSERT_TRUE(passMarker(12121));
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].text, "WR1#n#C#hello");
    EXPECT_EQ(received[1].text, "WR1#o#C#clean");
}

// A message sent is logged as a "To: " record of the sender's own name with its time, then its
// lines. (That the record is written before the datagram goes out is the pipe test below.)
TEST_F(Listeners, SentMessagesAreLoggedAsToRecordsWithTimeAndLines)
{
    auto& profile = platform::Profile::application();
    profile.writeInt("NetMsg Entry", "Log YesNo", 1);
    profile.writeString("NetMsg Entry", "Log Folder", sandbox.path());
    orvalink::test::ScopedTimeZone tz("UTC0");
    configureGroup(sandbox.chatTable, 0, "12121", "A", "me");
    CNetMsgThread* t = sandbox.chatTable.startListener(0);
    ASSERT_TRUE(waitForCount(2));
    sandbox.chatTable.chatLog(0)->setClock([] { return std::time_t{1796774399}; }); // 2026-12-08 23:59:59 UTC
    platform::sendMessage(t->window(), {WM_CHAT_SEND_GROUP, std::string("line1\r\nline2"), {}});

    const std::string path = sandbox.chatTable.chatLog(0)->path();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(readFile(path), "To: me  2026/12/08  23:59:59\r\nline1\r\nline2\r\n");
}

// One read notification hands on at most 256 datagrams and stops once 8 ms have gone by (after at
// least one); the rest waits for the next wake-up, after the GUI had its turn. The socket's clock
// is the test's own here: each reading of it moves it on by a fixed step.
TEST_F(Listeners, AWakeUpHandsOnAtMost256DatagramsOrEightMilliseconds)
{
    const struct {
        int datagrams;
        std::int64_t msPerReading;
        std::vector<int> perWakeup;
    } cases[] = {
        {300, 0, {256, 44}},      // time stands still: the count ends the wake-up
        {256, 0, {256}},          // exactly the count: one wake-up
        {10, 3, {3, 3, 3, 1}},    // 3, 6, 9 ms: the third datagram's reading passes 8 ms
        {10, 4, {2, 2, 2, 2, 2}}, // 4, 8 ms: reaching the bound ends the wake-up
        {10, 7, {2, 2, 2, 2, 2}}, // 7 ms is under the bound, 14 ms over it
    };
    configureGroup(sandbox.chatTable, 0, "12121", "A", "me");
    CNetMsgThread* t = sandbox.chatTable.startListener(0);
    ASSERT_TRUE(waitForCount(2));
    ASSERT_TRUE(passMarker(12121));
    CNetMsgDlg* w = t->window();
    std::int64_t now = 0;
    std::vector<int> wakeupOf; // per datagram handed on: the wake-up it came in
    sink.f = [&](int, std::string_view, const std::string&, unsigned) { wakeupOf.push_back(w->receiveWakeups()); };
    RawPeer peer(30003);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.datagrams) + " datagrams, " + std::to_string(c.msPerReading) + " ms");
        w->setReceiveClock([&, step = c.msPerReading] { return now += step; });
        wakeupOf.clear();
        // Sent before the event loop runs again: all of them wait in the socket for one wake-up.
        for (int i = 0; i < c.datagrams; ++i)
            ASSERT_TRUE(
                peer.sendTo("0001#0001#WR1#p#C#" + std::to_string(i), orvalink::test::kPrivateHostAddress, 12121));
        ASSERT_TRUE(QTest::qWaitFor([&] { return wakeupOf.size() >= static_cast<std::size_t>(c.datagrams); }, 10000));
        std::vector<int> counts;
        for (std::size_t i = 0; i < wakeupOf.size(); ++i) {
            if (i == 0 || wakeupOf[i] != wakeupOf[i - 1])
                counts.push_back(0);
            ++counts.back();
        }
        EXPECT_EQ(counts, c.perWakeup);
    }
    w->setReceiveClock({});
}

TEST_F(Listeners, StoppingAGroupFreesItsPortAndEndsItsThread)
{
    configureGroup(sandbox.chatTable, 0, "12121", "A", "me");
    CNetMsgThread* t = sandbox.chatTable.startListener(0);
    ASSERT_TRUE(waitForCount(2));
    EXPECT_TRUE(t->isRunning());
    sandbox.chatTable.stopListener(0, true);
    EXPECT_EQ(sandbox.chatTable.listener(0), nullptr);
    RawPeer again(12121);
    EXPECT_TRUE(again.bound());
}

// Peers rely on chat datagrams never leaving the local network: every kind of send carries
// MSG_DONTROUTE (announcements, group and personal messages, presence replies, the leave notice).
TEST_F(Listeners, EverySendPassesDontRoute)
{
    {
        std::lock_guard lock(g_sendsMutex);
        g_sends.clear();
    }
    configureGroup(sandbox.chatTable, 0, "12121", "A", "me");
    CNetMsgThread* t = sandbox.chatTable.startListener(0);
    ASSERT_TRUE(waitForCount(2));
    platform::sendMessage(t->window(), {WM_CHAT_SEND_GROUP, std::string("all"), {}});
    platform::sendMessage(t->window(), {WM_CHAT_SEND_PERSONAL, std::string("you"), std::string("10.0.0.1")});
    t->window()->sendAnnouncement(buildPresence("me"));
    sandbox.chatTable.stopListener(0, true);
    std::lock_guard lock(g_sendsMutex);
    int fromGroupPort = 0;
    for (const auto& [port, flags] : g_sends) {
        if (port != 12121)
            continue;
        ++fromGroupPort;
        EXPECT_TRUE(flags & MSG_DONTROUTE) << flags;
    }
    EXPECT_EQ(fromGroupPort, 6); // presence, join, group, personal, presence reply, leave
}

// The "To: " record of one's own message is in the log before the datagram goes out, and so comes
// before the "From: " record of the same message coming back. The log file is a pipe here: the
// listener cannot get past writing the record until the test reads it.
TEST_F(Listeners, OwnMessageIsLoggedBeforeItGoesOutThenLoggedAgainOnArrival)
{
    auto& profile = platform::Profile::application();
    profile.writeString("NetMsg Entry", "Log Folder", sandbox.path());
    configureGroup(sandbox.chatTable, 0, "12121", "A", "me");
    const auto io = ChatReceiver::makeListenerIo(sandbox.chatTable);
    ChatReceiver receiver{*io, sandbox.chatTable};
    sink.f = [&](int g, std::string_view text, const std::string& a, unsigned p) {
        received.push_back({g, std::string(text), a, p});
        receiver.handle(text, a, p);
    };
    CNetMsgThread* t = sandbox.chatTable.startListener(0); // logging is still off: the join is not logged
    ASSERT_TRUE(waitForCount(3));                          // presence, join and the presence reply to the join
    ASSERT_TRUE(passMarker(12121));
    received.clear();

    profile.writeInt("NetMsg Entry", "Log YesNo", 1);
    const std::string path = ChatLog::fileName(sandbox.path(), "A", std::time(nullptr));
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    std::string logged;
    std::thread reader;
    auto startReader = [&] {
        if (!reader.joinable())
            reader = std::thread([&] {
                const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
                char buf[4096];
                ssize_t n;
                while (fd >= 0 && (n = ::read(fd, buf, sizeof buf)) > 0)
                    logged.append(buf, static_cast<std::size_t>(n));
                ::close(fd);
            });
    };
    struct Finish {
        std::function<void()> f;
        ~Finish() { f(); }
    } finish{[&] {
        startReader();
        sandbox.chatTable.stopListener(0, false); // closes the log: the reader sees its end
        const int wake = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC); // in case nothing was written
        if (wake >= 0)
            ::close(wake);
        reader.join();
    }};

    platform::postMessage(t->window(), {WM_CHAT_SEND_GROUP, std::string("hello"), {}});
    // The listener is held up in the log: nothing can have gone out.
    ASSERT_TRUE(passMarker(12121));
    EXPECT_TRUE(textsOf(0).empty());
    startReader();
    ASSERT_TRUE(waitForCount(1));
    EXPECT_EQ(textsOf(0), std::vector<std::string>{"WR1#me#C#hello"});
    finish.f();
    finish.f = [] {};

    const std::size_t to = logged.find("To: me  ");
    const std::size_t from = logged.find("From: me  ");
    ASSERT_NE(to, std::string::npos) << logged;
    ASSERT_NE(from, std::string::npos) << logged;
    EXPECT_EQ(to, 0u);
    EXPECT_LT(to, from);
    EXPECT_EQ(logged.substr(to + 28, 9), "\r\nhello\r\n"); // "To: me" + "  YYYY/MM/DD  HH:MM:SS"
    EXPECT_EQ(logged.substr(logged.size() - 9), "\r\nhello\r\n");
}

} // namespace

} // namespace orvalink::chat
