#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>

#include "app/ProgramOnLan.h"

using namespace lantest;

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
