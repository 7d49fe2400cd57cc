#include "app/ProgramOnLan.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace orvalink::app {

namespace {

class ChatOnLan : public ChatLanTest {
protected:
    void SetUp() override { startHosts(3); }
};

TEST_F(ChatOnLan, ThreeHostsFindEachOtherTalkAndLeave)
{
    // Every instance lists all three (itself included) under the group, in its members and tree.
    for (const auto& h : hosts) {
        std::vector<std::string> d;
        EXPECT_TRUE(h.dumpHas({"member 0 " + key(1), "member 0 " + key(2), "member 0 " + key(3),
                               "node Orvalink(G) host1", "node Orvalink(G) host2", "node Orvalink(G) host3"},
                              &d))
            << joinLines(d);
    }

    // A group message from host 1 is a row on all three and in all three logs.
    ASSERT_TRUE(hosts[0].command("group 0 hello\\x0d\\x0aworld"));
    for (const auto& h : hosts) {
        std::vector<std::string> d;
        EXPECT_TRUE(waitUntil([&] {
            d = h.dump();
            return std::any_of(d.begin(), d.end(), [](const std::string& l) {
                return l.rfind("row 0 host1  ", 0) == 0 && l.find("|30|hello\\x0d\\x0aworld||1") != std::string::npos;
            });
        })) << joinLines(d);
    }
    EXPECT_TRUE(waitUntil([&] { return hosts[2].log().find("world\r\n") != std::string::npos; }));
    const std::string log1 = hosts[0].log();
    EXPECT_NE(log1.find("To: host1  "), std::string::npos);
    EXPECT_NE(log1.find("From: host1  "), std::string::npos);
    EXPECT_NE(log1.find("\r\nhello\r\nworld\r\n"), std::string::npos);
    EXPECT_EQ(hosts[1].log().find("To: "), std::string::npos);
    EXPECT_NE(hosts[1].log().find("From: host1  "), std::string::npos);

    // A personal message reaches only its recipient.
    ASSERT_TRUE(hosts[0].command("personal 0 " + lan->address(2) + " just for two"));
    std::vector<std::string> d2;
    EXPECT_TRUE(waitUntil([&] {
        d2 = hosts[1].dump();
        return std::any_of(d2.begin(), d2.end(),
                           [](const std::string& l) { return l.find("|18|just for two|1|1") != std::string::npos; });
    })) << joinLines(d2);
    // A later group message is a marker: once host 3 has it, it would have had the personal one.
    ASSERT_TRUE(hosts[0].command("group 0 marker"));
    std::vector<std::string> d3;
    ASSERT_TRUE(waitUntil([&] {
        d3 = hosts[2].dump();
        return joinLines(d3).find("|marker||1") != std::string::npos;
    }));
    EXPECT_EQ(joinLines(d3).find("just for two"), std::string::npos);
    EXPECT_EQ(joinLines(hosts[0].dump()).find("just for two"), std::string::npos);

    // The tray's exit on host 3 removes it from the others' members and trees.
    ASSERT_TRUE(hosts[2].command("exit"));
    int status = -1;
    ASSERT_TRUE(lan->waitExit(hosts[2].pid, 15000, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    for (int k : {0, 1}) {
        std::vector<std::string> d;
        EXPECT_TRUE(waitUntil([&] {
            d = hosts[static_cast<std::size_t>(k)].dump();
            const std::string all = joinLines(d);
            return all.find(key(3)) == std::string::npos && all.find("node Orvalink(G) host3") == std::string::npos &&
                   all.find("node Orvalink(G) host2") != std::string::npos;
        })) << joinLines(d);
    }
}

} // namespace

namespace {

// Three hosts whose display names are all the same, as three computers of one name would be.
class SameNamesOnLan : public ChatLanTest {
protected:
    void SetUp() override
    {
        sameName = "same";
        startHosts(3);
    }
    static int count(const std::vector<std::string>& d, const std::string& line)
    {
        return static_cast<int>(std::count(d.begin(), d.end(), line));
    }
    // The position of host k's member node under the group node on host h, or -1.
    int nodeOf(const DrivenHost& h, int k) const
    {
        const std::string line = h.waitForLine([&](const std::string& l) {
            return l.rfind("nodekey 0 ", 0) == 0 && l.size() > key(k).size() &&
                   l.compare(l.size() - key(k).size(), key(k).size(), key(k)) == 0;
        });
        return line.empty() ? -1 : std::stoi(line.substr(10));
    }
    // The index among group 0's rows of the first row whose line contains text, or -1.
    static int rowWith(const std::vector<std::string>& d, const std::string& text)
    {
        int row = 0;
        for (const auto& l : d) {
            if (l.rfind("row 0 ", 0) != 0)
                continue;
            if (l.find(text) != std::string::npos)
                return row;
            ++row;
        }
        return -1;
    }
    // Waits for a group message from host `from` to reach host `to`: anything sent to `to` before
    // it has arrived by then.
    bool marked(int from, int to, const std::string& marker)
    {
        if (!hosts[static_cast<std::size_t>(from)].command("group 0 " + marker))
            return false;
        return waitUntil([&] {
            return joinLines(hosts[static_cast<std::size_t>(to)].dump()).find("|" + marker + "||1") !=
                   std::string::npos;
        });
    }
};

TEST_F(SameNamesOnLan, APersonalMessageAndItsReplyReachOnlyTheirMemberAndALeaverTakesOneNode)
{
    for (const auto& h : hosts) {
        std::vector<std::string> d;
        EXPECT_TRUE(h.dumpHas({"member 0 " + key(1), "member 0 " + key(2), "member 0 " + key(3)}, &d)) << joinLines(d);
        EXPECT_EQ(count(d, "node Orvalink(G) same"), 3) << joinLines(d);
    }

    // Host 1 writes to host 2's node: host 2 has it, host 3 and host 1 itself do not.
    const int second = nodeOf(hosts[0], 2);
    ASSERT_GE(second, 0);
    ASSERT_TRUE(hosts[0].command("writenode 0 " + std::to_string(second) + " for two only"));
    std::vector<std::string> d2;
    ASSERT_TRUE(waitUntil([&] {
        d2 = hosts[1].dump();
        return rowWith(d2, "|for two only|1|1") >= 0;
    })) << joinLines(d2);
    ASSERT_TRUE(marked(0, 2, "marker1"));
    EXPECT_EQ(joinLines(hosts[2].dump()).find("for two only"), std::string::npos);
    EXPECT_EQ(joinLines(hosts[0].dump()).find("for two only"), std::string::npos);

    // Host 2 replies to that row: host 1 has the reply, host 3 and host 2 do not.
    ASSERT_TRUE(hosts[1].command("reply 0 " + std::to_string(rowWith(d2, "|for two only|1|1")) + " back to one"));
    std::vector<std::string> d1;
    EXPECT_TRUE(waitUntil([&] {
        d1 = hosts[0].dump();
        return joinLines(d1).find(">for two only\\x0d\\x0aback to one|1|1") != std::string::npos;
    })) << joinLines(d1);
    ASSERT_TRUE(marked(1, 2, "marker2"));
    EXPECT_EQ(joinLines(hosts[2].dump()).find("back to one"), std::string::npos);
    EXPECT_EQ(joinLines(hosts[1].dump()).find("back to one"), std::string::npos);

    // Host 3 leaves: exactly its node goes on hosts 1 and 2, its namesakes stay.
    ASSERT_TRUE(hosts[2].command("exit"));
    ASSERT_TRUE(lan->waitExit(hosts[2].pid, 15000, nullptr));
    for (int h : {0, 1}) {
        std::vector<std::string> d;
        EXPECT_TRUE(waitUntil([&] {
            d = hosts[static_cast<std::size_t>(h)].dump();
            return joinLines(d).find(key(3)) == std::string::npos;
        })) << joinLines(d);
        EXPECT_EQ(count(d, "node Orvalink(G) same"), 2) << joinLines(d);
        EXPECT_GE(nodeOf(hosts[static_cast<std::size_t>(h)], 1), 0);
        EXPECT_GE(nodeOf(hosts[static_cast<std::size_t>(h)], 2), 0);
    }
}

} // namespace

} // namespace orvalink::app
