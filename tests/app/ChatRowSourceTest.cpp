#include "app/ChatRowSource.h"

#include "chat/ChatGroupTable.h"

#include <gtest/gtest.h>

namespace orvalink::app {

using chat::ChatGroupTable;
using chat::ChatRow;
using chat::kMaxChatGroups;
using chat::RowKind;
using controls::ReportSourceRow;

namespace {

ChatRow makeRow(int i, bool unread = true, std::uint64_t serial = 0)
{
    return ChatRow{"name" + std::to_string(i),
                   20 + i % 3,
                   "body" + std::to_string(i),
                   i % 2 ? RowKind::PersonalMessage : RowKind::Message,
                   unread,
                   serial};
}

class ChatRowSourceTest : public ::testing::Test {
protected:
    void SetUp() override { chatTable.clear(); }
    void TearDown() override { chatTable.clear(); }
    ChatGroupTable chatTable;
    ChatRowSource source{chatTable};
};

TEST_F(ChatRowSourceTest, ReadsTheTextsAndTypedFieldsOfTheGroup)
{
    auto& rows = chatTable.groups[3].rows;
    rows.push_back(ChatRow{"alice  2026/12/07  10:00:00", 45, "hello", chat::RowKind::PersonalMessage, true, 7,
                           "10.0.0.1#1#alice"});
    rows.push_back(ChatRow{"bob", 12, "x", RowKind::Join, false});
    source.setGroup(3);
    ASSERT_EQ(source.rowCount(), 2);
    const ReportSourceRow a = source.row(0);
    EXPECT_EQ(a.header, "alice  2026/12/07  10:00:00");
    EXPECT_EQ(a.height, 45);
    EXPECT_TRUE(a.personal);
    EXPECT_TRUE(a.unread);
    EXPECT_EQ(a.serial, 7u);
    EXPECT_EQ(a.from, "10.0.0.1#1#alice");
    EXPECT_EQ(source.body(0), "hello");
    // A join line is drawn as a group message.
    const ReportSourceRow b = source.row(1);
    EXPECT_EQ(b.height, 12);
    EXPECT_FALSE(b.personal);
    EXPECT_FALSE(b.unread);
}

TEST_F(ChatRowSourceTest, ListsTheNewestRowsUpToThePanesCapacity)
{
    auto& rows = chatTable.groups[0].rows;
    const int extra = 5;
    for (int i = 0; i < kPaneRowCapacity + extra; ++i)
        rows.push_back(makeRow(i, true, static_cast<std::uint64_t>(i + 1)));
    source.setGroup(0);
    ASSERT_EQ(source.rowCount(), kPaneRowCapacity);
    EXPECT_EQ(source.row(0).header, "name" + std::to_string(extra));
    EXPECT_EQ(source.row(kPaneRowCapacity - 1).header, "name" + std::to_string(kPaneRowCapacity + extra - 1));
    // Marking row 0 read marks the group's row it shows, not the group's first row.
    source.markRead(0);
    EXPECT_FALSE(rows[extra].unread);
    EXPECT_TRUE(rows[0].unread);
    source.markRead(kPaneRowCapacity); // past the end: nothing
    EXPECT_TRUE(rows.back().unread);
}

TEST_F(ChatRowSourceTest, AnotherGroupReplacesTheRowsAndABadGroupHasNone)
{
    chatTable.groups[0].rows = {makeRow(0), makeRow(1), makeRow(2)};
    chatTable.groups[1].rows = {makeRow(7)};
    source.setGroup(0);
    EXPECT_EQ(source.rowCount(), 3);
    source.setGroup(1);
    ASSERT_EQ(source.rowCount(), 1);
    EXPECT_EQ(source.row(0).header, "name7");
    for (int bad : {-1, kMaxChatGroups}) {
        source.setGroup(bad);
        EXPECT_EQ(source.rowCount(), 0) << bad;
        EXPECT_EQ(source.find(1, 0), -1) << bad;
    }
}

TEST_F(ChatRowSourceTest, FindsARowAgainAfterOlderRowsLeft)
{
    auto& rows = chatTable.groups[0].rows;
    for (int i = 0; i < 10; ++i)
        rows.push_back(makeRow(i, true, static_cast<std::uint64_t>(10 * (i + 1))));
    source.setGroup(0);
    struct Case {
        std::uint64_t serial;
        int hint;
        int index;
    } cases[] = {
        {40, 3, 3},   // where it was
        {40, 7, 3},   // moved
        {35, 3, -1},  // never there
        {100, 0, 9},  // the newest
        {110, 9, -1}, // not yet there
    };
    for (const Case& c : cases)
        EXPECT_EQ(source.find(c.serial, c.hint), c.index) << c.serial;
    rows.pop_front();
    rows.pop_front();
    EXPECT_EQ(source.find(40, 3), 1);
    EXPECT_EQ(source.find(10, 0), -1) << "a row that left is not found";
    // Unnumbered rows stay where they were.
    rows.push_back(makeRow(99));
    EXPECT_EQ(source.find(0, 8), 8);
    EXPECT_EQ(source.find(0, 2), -1);
}

} // namespace

} // namespace orvalink::app
