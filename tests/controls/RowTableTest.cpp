#include "controls/RowTable.h"

#include "chat/ChatGroupTable.h"

#include <gtest/gtest.h>

namespace orvalink::controls {

using chat::chatGroupTable;
using chat::ChatRow;
using chat::kMaxChatGroups;

namespace {

ChatRow makeRow(int i, const char* unread = "1")
{
    return ChatRow{"name" + std::to_string(i), std::to_string(20 + i % 3), "body" + std::to_string(i), i % 2 ? "1" : "",
                   unread};
}

class RowTableTest : public ::testing::Test {
protected:
    void SetUp() override { chatGroupTable().clear(); }
    void TearDown() override
    {
        chatGroupTable().clear();
        rowTable().clear();
    }
};

TEST_F(RowTableTest, CopiesTextsAndIntegerValuesOfAGroup)
{
    auto& rows = chatGroupTable().groups[3].rows;
    rows.push_back(ChatRow{"alice  2026/12/07  10:00:00", "45", "hello", "1", "1"});
    rows.push_back(ChatRow{"bob", "12abc", "x", "", "0"});
    fillRowTableFromGroup(3);
    const RowTable& t = rowTable();
    ASSERT_EQ(t.count, 2);
    EXPECT_EQ(t.group, 3);
    EXPECT_EQ(t.firstGroupRow, 0);
    EXPECT_EQ(t.rows[0].header, "alice  2026/12/07  10:00:00");
    EXPECT_EQ(t.rows[0].height, 45);
    EXPECT_EQ(t.rows[0].personal, 1);
    EXPECT_EQ(t.rows[0].unread, 1);
    EXPECT_EQ(t.rows[0].body, "hello");
    // Integer values as the system reads them: leading digits, nothing at all is 0.
    EXPECT_EQ(t.rows[1].height, 12);
    EXPECT_EQ(t.rows[1].personal, 0);
    EXPECT_EQ(t.rows[1].unread, 0);
}

TEST_F(RowTableTest, CopyStopsAtCapacityKeepingTheNewestRows)
{
    auto& rows = chatGroupTable().groups[0].rows;
    const int extra = 5;
    for (int i = 0; i < kRowTableCapacity + extra; ++i)
        rows.push_back(makeRow(i));
    fillRowTableFromGroup(0);
    const RowTable& t = rowTable();
    ASSERT_EQ(t.count, kRowTableCapacity);
    EXPECT_EQ(t.firstGroupRow, extra);
    EXPECT_EQ(t.rows[0].header, "name" + std::to_string(extra));
    EXPECT_EQ(t.rows[kRowTableCapacity - 1].header, "name" + std::to_string(kRowTableCapacity + extra - 1));
    EXPECT_EQ(t.entry(kRowTableCapacity), nullptr);
    EXPECT_NE(t.entry(kRowTableCapacity - 1), nullptr);
}

TEST_F(RowTableTest, ARefillReplacesTheOldRowsAndABadGroupEmptiesIt)
{
    chatGroupTable().groups[0].rows = {makeRow(0), makeRow(1), makeRow(2)};
    chatGroupTable().groups[1].rows = {makeRow(7)};
    fillRowTableFromGroup(0);
    EXPECT_EQ(rowTable().count, 3);
    fillRowTableFromGroup(1);
    EXPECT_EQ(rowTable().count, 1);
    EXPECT_EQ(rowTable().rows[0].header, "name7");
    EXPECT_EQ(rowTable().entry(1), nullptr);
    for (int bad : {-1, kMaxChatGroups}) {
        fillRowTableFromGroup(bad);
        EXPECT_EQ(rowTable().count, 0) << bad;
    }
}

} // namespace

} // namespace orvalink::controls
