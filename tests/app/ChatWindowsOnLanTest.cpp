#include "app/ProgramOnLan.h"
#include "platform/Profile.h"

#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvalink::app {

namespace {

bool has(const std::string& s, const std::string& part)
{
    return s.find(part) != std::string::npos;
}
std::size_t count(const std::string& s, const std::string& part)
{
    std::size_t n = 0;
    for (std::size_t p = s.find(part); p != std::string::npos; p = s.find(part, p + 1))
        ++n;
    return n;
}

class ChatWindowsOnLan : public ChatLanTest {
protected:
    void SetUp() override
    {
        startHosts(3);
        if (!IsSkipped()) {
            ASSERT_TRUE(everyoneSeesEveryone());
        }
    }

    // Row lines of group 0 on host h whose text (header|height|body|personal|unread) contains part.
    static std::string rowWith(const DrivenHost& h, const std::string& part, int timeoutMs = 15000)
    {
        return h.waitForLine([&](const std::string& l) { return l.rfind("row 0 ", 0) == 0 && has(l, part); },
                             timeoutMs);
    }
};

TEST_F(ChatWindowsOnLan, GroupPersonalAndReplyFromTheWriteWindows)
{
    // A group message written on host 1 is listed on every host, host 1 included, and host 1
    // logs it once going out and once coming back.
    ASSERT_TRUE(hosts[0].command("write 0 hello\\x0d\\x0aworld"));
    for (const auto& h : hosts) {
        const std::string row = rowWith(h, "|30|hello\\x0d\\x0aworld||1");
        EXPECT_EQ(row.rfind("row 0 host1  ", 0), 0u) << row;
    }
    const std::string log1 = hosts[0].log();
    EXPECT_TRUE(has(log1, "To: host1  ")) << log1;
    EXPECT_TRUE(has(log1, "From: host1  ")) << log1;
    EXPECT_EQ(count(log1, "\r\nhello\r\nworld\r\n"), 2u) << log1;

    // A personal message to host 2 reaches host 2 only; host 1 only logs it.
    ASSERT_TRUE(hosts[0].command("writeto 0 host2 just for two"));
    EXPECT_EQ(rowWith(hosts[1], "|18|just for two|1|1").rfind("row 0 host1  ", 0), 0u);
    ASSERT_TRUE(hosts[0].command("write 0 marker"));
    for (int k : {0, 2})
        ASSERT_FALSE(rowWith(hosts[static_cast<std::size_t>(k)], "|marker||1").empty());
    for (int k : {0, 2})
        EXPECT_TRUE(rowWith(hosts[static_cast<std::size_t>(k)], "just for two", 0).empty());
    const std::string log1b = hosts[0].log();
    EXPECT_EQ(count(log1b, "\r\njust for two\r\n"), 1u) << log1b;
    EXPECT_TRUE(has(log1b, "To: host1  ")) << log1b;

    // Host 2 opens host 1's group message and replies: a personal message to host 1 quoting it.
    std::size_t index = 0;
    bool found = false;
    for (const auto& l : hosts[1].dump()) {
        if (l.rfind("row 0 ", 0) != 0)
            continue;
        if (has(l, "|hello\\x0d\\x0aworld|")) {
            found = true;
            break;
        }
        ++index;
    }
    ASSERT_TRUE(found);
    ASSERT_TRUE(hosts[1].command("reply 0 " + std::to_string(index) + " fine"));
    const std::string reply = rowWith(hosts[0], "|42|>hello\\x0d\\x0a>world\\x0d\\x0afine|1|1");
    EXPECT_EQ(reply.rfind("row 0 host2  ", 0), 0u) << reply;
    ASSERT_TRUE(hosts[1].command("write 0 marker2"));
    ASSERT_FALSE(rowWith(hosts[2], "|marker2||1").empty());
    EXPECT_TRUE(rowWith(hosts[2], ">hello", 0).empty());
    EXPECT_TRUE(rowWith(hosts[1], ">hello", 0).empty());

    // Nothing went wrong enough to tell the user.
    for (const auto& h : hosts)
        EXPECT_EQ(readFile(h.dir / "messageboxes.log"), "");
}

} // namespace

} // namespace orvalink::app
