#include "app/ProgramOnLan.h"

#include <gtest/gtest.h>
#include <string>

namespace orvalink::app {

namespace {

class MessageListOnLan : public ChatLanTest {
protected:
    void SetUp() override
    {
        startHosts(2);
        if (!IsSkipped()) {
            ASSERT_TRUE(everyoneSeesEveryone());
        }
    }

    // The "list N visible FIRST LAST" line of a dump, as numbers.
    static bool listLine(const std::vector<std::string>& dump, int& count, int& first, int& last)
    {
        for (const auto& l : dump)
            if (std::sscanf(l.c_str(), "list %d visible %d %d", &count, &first, &last) == 3)
                return true;
        return false;
    }
};

TEST_F(MessageListOnLan, ArrivingMessagesShowAtTheBottomAndOpenInTheReadWindow)
{
    // Enough messages from host 2 to fill host 1's list several times over.
    const int messages = 40;
    for (int i = 0; i < messages; ++i)
        ASSERT_TRUE(hosts[1].command("group 0 message " + std::to_string(i) + "\\x0d\\x0asecond line"));

    // Besides the messages the group holds the join notices that arrived while host 1 was up.
    std::vector<std::string> d;
    int count = 0, first = 0, last = 0, rows = 0;
    ASSERT_TRUE(waitUntil([&] {
        d = hosts[0].dump();
        rows = static_cast<int>(
            std::count_if(d.begin(), d.end(), [](const std::string& l) { return l.rfind("row 0 ", 0) == 0; }));
        return joinLines(d).find("|message 39\\x0d\\x0asecond line|") != std::string::npos &&
               listLine(d, count, first, last) && count == rows;
    })) << joinLines(d);
    ASSERT_GE(rows, messages);
    // The newest row is the last one, and it is in view.
    EXPECT_GT(first, 0) << "the list holds more than fits";
    EXPECT_EQ(last, rows - 1) << joinLines(d);
    const std::string lastItem = "item " + std::to_string(rows - 1) + " host2  ";
    const auto item = std::find_if(d.begin(), d.end(), [&](const std::string& l) { return l.rfind(lastItem, 0) == 0; });
    ASSERT_NE(item, d.end());
    EXPECT_NE(item->find("|-1|30"), std::string::npos) << *item; // unread: no image, a 30-pixel preview

    // A double-click opens it in the read window titled with the sender's name; the row collapses
    // to one line with the "read" image.
    ASSERT_TRUE(hosts[0].command("open " + std::to_string(rows - 1)));
    EXPECT_FALSE(hosts[0].waitForLine([](const std::string& l) { return l == "window host2"; }).empty());
    EXPECT_FALSE(hosts[0]
                     .waitForLine([&](const std::string& l) {
                         return l.rfind(lastItem, 0) == 0 && l.find("|4|0") != std::string::npos;
                     })
                     .empty());
    EXPECT_FALSE(hosts[0]
                     .waitForLine([&](const std::string& l) {
                         return l.rfind("row 0 host2  ", 0) == 0 && l.find("message 39") != std::string::npos &&
                                l.substr(l.size() - 2) == "|0";
                     })
                     .empty());
}

} // namespace

} // namespace orvalink::app
