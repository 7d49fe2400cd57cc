// The program on a LAN without a gateway: the hosts have the route of their own network and no
// default route, so the system has no route for 255.255.255.255.
#include "app/ProgramOnLan.h"
#include "chat/SendErrorText.h"
#include "platform/AsyncSocket.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace orvalink::app {

namespace {

using platform::escapeBytes;

int count(const std::vector<std::string>& d, const std::string& line)
{
    return static_cast<int>(std::count(d.begin(), d.end(), line));
}

int rowsWith(const std::vector<std::string>& d, const std::string& text)
{
    return static_cast<int>(std::count_if(d.begin(), d.end(), [&](const std::string& l) {
        return l.rfind("row 0 ", 0) == 0 && l.find(text) != std::string::npos;
    }));
}

class ClosedLan : public ChatLanTest {
protected:
    ClosedLan() { lanOptions.defaultRoute = false; }
    // Waits until host h's dump has a row containing text; the last dump.
    std::vector<std::string> waitForRow(int h, const std::string& text)
    {
        std::vector<std::string> d;
        waitUntil([&] {
            d = hosts[static_cast<std::size_t>(h)].dump();
            return rowsWith(d, text) > 0;
        });
        return d;
    }
};

TEST_F(ClosedLan, ThreeHostsWithoutAGatewayFindEachOtherTalkAndLeave)
{
    startHosts(3);
    for (const auto& h : hosts) {
        std::vector<std::string> d;
        EXPECT_TRUE(h.dumpHas({"member 0 " + key(1), "member 0 " + key(2), "member 0 " + key(3),
                               "node Orvalink(G) host1", "node Orvalink(G) host2", "node Orvalink(G) host3"},
                              &d))
            << joinLines(d);
        EXPECT_EQ(joinLines(d).find("status "), std::string::npos) << joinLines(d);
    }

    // A group message from host 1 is one row on every host, host 1 included.
    ASSERT_TRUE(hosts[0].command("group 0 closed office"));
    for (int h : {0, 1, 2}) {
        const auto d = waitForRow(h, "|closed office||1");
        EXPECT_EQ(rowsWith(d, "|closed office||1"), 1) << joinLines(d);
    }

    // A personal message reaches its host.
    ASSERT_TRUE(hosts[0].command("personal 0 " + lan->address(2) + " just for two"));
    const auto d2 = waitForRow(1, "|just for two|1|1");
    EXPECT_EQ(rowsWith(d2, "|just for two|1|1"), 1) << joinLines(d2);

    // The leave notice arrives.
    ASSERT_TRUE(hosts[2].command("exit"));
    ASSERT_TRUE(lan->waitExit(hosts[2].pid, 15000, nullptr));
    for (int h : {0, 1}) {
        std::vector<std::string> d;
        EXPECT_TRUE(waitUntil([&] {
            d = hosts[static_cast<std::size_t>(h)].dump();
            return joinLines(d).find(key(3)) == std::string::npos && !d.empty();
        })) << joinLines(d);
    }
}

// Host 1 sits on both LANs, host 2 on the first only, host 3 on the second only.
class TwoClosedLans : public ClosedLan {
protected:
    TwoClosedLans()
    {
        lanOptions.secondLan = {1};
        lanOptions.secondLanOnly = {3};
    }
    std::string secondKey(int k) const { return lan->secondLanAddress(k) + "#12121#" + nameOf(k); }
};

TEST_F(TwoClosedLans, AHostOnTwoLansIsSeenOnBothAndSeesItsOwnMessageOnce)
{
    startHosts(3);
    std::vector<std::string> d;
    EXPECT_TRUE(hosts[1].dumpHas({"member 0 " + key(1), "member 0 " + key(2)}, &d)) << joinLines(d);
    EXPECT_TRUE(hosts[2].dumpHas({"member 0 " + secondKey(1), "member 0 " + secondKey(3)}, &d)) << joinLines(d);
    EXPECT_TRUE(hosts[0].dumpHas({"member 0 " + key(1), "member 0 " + key(2), "member 0 " + secondKey(3)}, &d))
        << joinLines(d);
    // Its own announcement came back once, from its first network only.
    EXPECT_EQ(count(d, "member 0 " + key(1)), 1) << joinLines(d);
    EXPECT_EQ(count(d, "member 0 " + secondKey(1)), 0) << joinLines(d);
    EXPECT_EQ(count(d, "node Orvalink(G) host1"), 1) << joinLines(d);

    ASSERT_TRUE(hosts[0].command("group 0 to both"));
    for (int h : {1, 2, 0}) {
        d = waitForRow(h, "|to both||1");
        EXPECT_EQ(rowsWith(d, "|to both||1"), 1) << "host " << h + 1 << "\n" << joinLines(d);
    }
}

// Host 1's only network is down before the program starts: nothing it sends can leave.
class NoNetworkUp : public ClosedLan {
protected:
    void beforePrograms() override { ASSERT_TRUE(link(false)); }
    bool link(bool up)
    {
        for (const char* ip : {"/usr/sbin/ip", "/sbin/ip", "/bin/ip"})
            if (::access(ip, X_OK) == 0)
                return lan->run(1, {ip, "link", "set", "eth0", up ? "up" : "down"}, nullptr, 10000) == 0;
        return false;
    }
};

TEST_F(NoNetworkUp, AFailedSendKeepsTheWriteWindowAndTheFailedAnnouncementIsShownUntilASendSucceeds)
{
    startHosts(1);
    const std::string status = "status " + escapeBytes(chat::announceFailedText("G", platform::WSAENETUNREACH));
    std::vector<std::string> d;
    EXPECT_TRUE(hosts[0].dumpHas({status}, &d)) << joinLines(d);
    const std::string tip = "tooltip " + escapeBytes(chat::announceFailedTip(platform::WSAENETUNREACH));
    EXPECT_EQ(hosts[0].waitForLine([&](const std::string& l) { return l.rfind(tip, 0) == 0; }).empty(), false);

    // The write window stays open with its text and says why.
    ASSERT_TRUE(hosts[0].command("write 0 not lost"));
    const std::string failure =
        "windowfailure " + escapeBytes(chat::messageNotSentText(platform::WSAENETUNREACH)) + "|not lost";
    EXPECT_TRUE(hosts[0].dumpHas({failure, "window Orvalink(G)"}, &d)) << joinLines(d);
    EXPECT_EQ(rowsWith(d, "not lost"), 0);

    // Once a send gets through, the status line goes.
    ASSERT_TRUE(link(true));
    ASSERT_TRUE(hosts[0].command("group 0 back"));
    d = waitForRow(0, "|back||1");
    EXPECT_TRUE(waitUntil([&] {
        d = hosts[0].dump();
        return !d.empty() && joinLines(d).find("status ") == std::string::npos;
    })) << joinLines(d);
    EXPECT_EQ(hosts[0].waitForLine([&](const std::string& l) { return l.rfind("tooltip G(", 0) == 0; }).empty(), false);
}

} // namespace

} // namespace orvalink::app
