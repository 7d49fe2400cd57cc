#include "chat/ChatReceiver.h"

#include "chat/ChatGroupObserver.h"
#include "chat/ChatTestSupport.h"
#include "platform/Dispatch.h"
#include "platform/Messages.h"
#include "platform/text/Cp932.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <vector>

namespace orvalink::chat {

namespace {

struct RecordingIo : ChatReceiver::GroupIo {
    std::vector<int> replies;
    void sendPresenceReply(int g, const std::string&) override { replies.push_back(g); }
};

struct RecordingTree : ChatGroupObserver {
    std::vector<std::string> calls;
    void memberAdded(int g, std::string_view name) override
    {
        calls.push_back("add " + std::to_string(g) + " " + std::string(name));
    }
    void memberRemoved(int g, std::string_view name) override
    {
        calls.push_back("remove " + std::string(name) + " from " + std::to_string(g));
    }
    void groupAdded(int g) override { calls.push_back("group+ " + std::to_string(g)); }
    void groupRemoved(int g) override { calls.push_back("group- " + std::to_string(g)); }
};

struct RecordingFrame : ChatGroupObserver {
    std::vector<std::int64_t> changed;
    void groupRowsChanged(int g) override { changed.push_back(g); }
};

// 2026/12/07 09:08:07 local time.
std::time_t fixedTime()
{
    std::tm tm{};
    tm.tm_year = 126;
    tm.tm_mon = 11;
    tm.tm_mday = 7;
    tm.tm_hour = 9;
    tm.tm_min = 8;
    tm.tm_sec = 7;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

class Receiver : public ::testing::Test {
protected:
    Receiver() : receiver(io, sandbox.chatTable)
    {
        configureGroup(sandbox.chatTable, 0, "12121", "A", "me");
        configureGroup(sandbox.chatTable, 1, "12122", "B", "me");
        // The received items go into each group's own log, dated by a fixed clock.
        platform::Profile::application().writeInt("NetMsg Entry", "Log YesNo", 1);
        platform::Profile::application().writeString("NetMsg Entry", "Log Folder", sandbox.path());
        for (int g : {0, 1})
            sandbox.chatTable.chatLog(g)->setClock(fixedTime);
        sandbox.chatTable.addObserver(frame);
        sandbox.chatTable.addObserver(tree);
        receiver.setClock(fixedTime);
    }
    ProfileSandbox sandbox;
    RecordingIo io;
    RecordingTree tree;
    RecordingFrame frame;
    ChatReceiver receiver;
    const std::string time = "  2026/12/07  09:08:07";

    std::string logOf(const char* group) const
    {
        const std::string path = ChatLog::fileName(sandbox.path(), group, fixedTime());
        return std::filesystem::exists(path) ? readFile(path) : std::string();
    }
    std::string record(const std::string& label, const std::string& text) const
    {
        return label + time + "\r\n" + text + "\r\n";
    }
};

TEST_F(Receiver, MessagesBecomeRowsWithHeightsAndMarks)
{
    const std::string joined = platform::utf8ToCp932("さんが参加しました");
    const std::string more = platform::utf8ToCp932(" (続く)");
    struct Case {
        std::string payload;
        ChatRow row;
        std::string log;
    };
    const std::vector<Case> cases = {
        {"ON #taro#C#",
         {"taro" + time, 30, "taro" + joined, chat::RowKind::Join, true},
         record("From: taro", "taro" + joined)},
        {"ON #taro#C#x\r\ny\r\nz\r\nw",
         {"taro" + time, 30, "taro" + joined, chat::RowKind::Join, true},
         record("From: taro", "taro" + joined)},
        {"WR1#taro#C#hi", {"taro" + time, 18, "hi", chat::RowKind::Message, true}, record("From: taro", "hi")},
        {"WR1#taro#C#a#b#c", {"taro" + time, 18, "a#b#c", chat::RowKind::Message, true}, record("From: taro", "a#b#c")},
        {"WR1#taro#C#1\r\n2\r\n3\r\n4",
         {"taro" + time, 54, "1\r\n2\r\n3\r\n4", chat::RowKind::Message, true},
         record("From: taro", "1\r\n2\r\n3\r\n4")},
        {"WR1#t#C#1\r\n2\r\n3\r\n4\r\n5\r\n6",
         {"t" + time, 78, "1\r\n2\r\n3\r\n4\r\n5\r\n6", chat::RowKind::Message, true},
         record("From: t", "1\r\n2\r\n3\r\n4\r\n5\r\n6")},
        {"WR1#t#C#1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7",
         {"t" + time + more, 78, "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7", chat::RowKind::Message, true},
         record("From: t", "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7")},
        {"WR2#hana#C#secret",
         {"hana" + time, 18, "secret", chat::RowKind::PersonalMessage, true},
         record("From: hana", "secret")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.payload);
        auto& rows = sandbox.chatTable.groups[0].rows;
        rows.clear();
        const std::size_t logged = logOf("A").size();
        frame.changed.clear();
        receiver.handle(c.payload, "10.0.0.2", 12121);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].header, c.row.header);
        EXPECT_EQ(rows[0].height, c.row.height);
        EXPECT_EQ(rows[0].body, c.row.body);
        EXPECT_EQ(rows[0].kind, c.row.kind);
        EXPECT_TRUE(rows[0].unread);
        EXPECT_EQ(rows[0].time, fixedTime());
        EXPECT_EQ(logOf("A").substr(logged), c.log);
        EXPECT_EQ(frame.changed, std::vector<std::int64_t>{0});
    }
    EXPECT_TRUE(sandbox.chatTable.groups[0].members.empty());
    EXPECT_TRUE(io.replies.empty());
}

TEST_F(Receiver, WhatMatchesNothingChangesNothing)
{
    for (const char* payload : {"WR1#t#N#flag N", "WR2#t#N#flag N", "XYZ#t#C#", "ON", "", "WR1#t"}) {
        SCOPED_TRACE(payload);
        receiver.handle(payload, "10.0.0.2", 12121);
    }
    receiver.handle("WR1#t#C#unknown port", "10.0.0.2", 9999);
    receiver.handle("ON #t#N#", "10.0.0.2", 9999);
    for (const auto& g : sandbox.chatTable.groups) {
        EXPECT_TRUE(g.rows.empty());
        EXPECT_TRUE(g.members.empty());
    }
    EXPECT_EQ(logOf("A") + logOf("B"), "");
    EXPECT_TRUE(io.replies.empty());
    EXPECT_TRUE(frame.changed.empty());
    EXPECT_TRUE(tree.calls.empty());
}

TEST_F(Receiver, PresenceAddsAMemberOnceAndAnswersOnlyNewcomers)
{
    receiver.handle("ON #taro#N#", "10.0.0.2", 12122);
    receiver.handle("ON #taro#N#", "10.0.0.2", 12122); // known key: no reply
    receiver.handle("ON #taro#N#", "10.0.0.3", 12122); // same name, other host: another member
    EXPECT_EQ(sandbox.chatTable.groups[1].members,
              (std::vector<std::string>{"10.0.0.2#12122#taro", "10.0.0.3#12122#taro"}));
    EXPECT_EQ(io.replies, (std::vector<int>{1, 1}));
    // Each is a node of its own, told apart by its key.
    EXPECT_EQ(tree.calls, (std::vector<std::string>{"add 1 10.0.0.2#12122#taro", "add 1 10.0.0.3#12122#taro"}));
    EXPECT_TRUE(sandbox.chatTable.groups[1].rows.empty()); // a presence announcement shows no row
    EXPECT_TRUE(frame.changed.empty());
}

TEST_F(Receiver, LeaveRemovesTheMemberButKeepsItsRows)
{
    receiver.handle("ON #PC-OFFICE#N#", "192.168.0.7", 12121);
    receiver.handle("ON #PC-OFFICE#N#", "192.168.0.8", 12121); // a namesake on another host
    receiver.handle("WR1#PC-OFFICE#C#bye soon", "192.168.0.7", 12121);
    receiver.handle("OFF#PC-OFFICE#", "192.168.0.7", 12121);
    EXPECT_EQ(sandbox.chatTable.groups[0].members, std::vector<std::string>{"192.168.0.8#12121#PC-OFFICE"});
    ASSERT_EQ(sandbox.chatTable.groups[0].rows.size(), 1u);
    // The row keeps its sender's key, for the reply; the leaver's node alone goes.
    EXPECT_EQ(sandbox.chatTable.groups[0].rows[0].senderKey, "192.168.0.7#12121#PC-OFFICE");
    EXPECT_EQ(tree.calls.back(), "remove 192.168.0.7#12121#PC-OFFICE from 0");
    // A leave from an unknown key changes nothing.
    tree.calls.clear();
    receiver.handle("OFF#nobody#", "192.168.0.7", 12121);
    EXPECT_TRUE(tree.calls.empty());
    // The message only: leave notices are not logged.
    EXPECT_EQ(logOf("A"), record("From: PC-OFFICE", "bye soon"));
}

TEST_F(Receiver, StartUpExchangeOfTwoInstancesEnds)
{
    // Two instances A (10.0.0.1) and B (10.0.0.2) on one group. Each has its own table; this
    // test plays both by swapping tables and delivers every broadcast to both until it is quiet.
    struct Instance {
        std::string address, name;
        std::vector<std::string> members;
    };
    Instance a{"10.0.0.1", "A", {}}, b{"10.0.0.2", "B", {"10.0.0.2#12121#B"}}; // B is already there
    std::vector<std::pair<std::string, std::string>> wire;                     // (sender address, payload)
    wire.push_back({a.address, "ON #A#N#"});
    wire.push_back({a.address, "ON #A#C#"});
    int delivered = 0;
    while (!wire.empty() && delivered < 100) {
        const auto [from, payload] = wire.front();
        wire.erase(wire.begin());
        for (Instance* inst : {&a, &b}) {
            sandbox.chatTable.groups[0].members = inst->members;
            io.replies.clear();
            receiver.handle(payload, from, 12121);
            inst->members = sandbox.chatTable.groups[0].members;
            for (std::size_t i = 0; i < io.replies.size(); ++i)
                wire.push_back({inst->address, "ON #" + inst->name + "#N#"});
            ++delivered;
        }
    }
    EXPECT_TRUE(wire.empty()) << "the announcements never stopped";
    const std::vector<std::string> both = {"10.0.0.2#12121#B", "10.0.0.1#12121#A"};
    EXPECT_EQ(b.members, both);
    EXPECT_EQ(a.members.size(), 2u);
}

TEST_F(Receiver, AGroupKeepsItsNewestRowsWhenFull)
{
    auto& rows = sandbox.chatTable.groups[0].rows;
    for (std::size_t i = 0; i < ChatReceiver::kMaxRowsPerGroup + 5; ++i)
        receiver.handle("WR1#t#C#" + std::to_string(i), "10.0.0.2", 12121);
    ASSERT_EQ(rows.size(), ChatReceiver::kMaxRowsPerGroup);
    EXPECT_EQ(rows.front().body, "5");
    EXPECT_EQ(rows.back().body, std::to_string(ChatReceiver::kMaxRowsPerGroup + 4));
}

} // namespace

} // namespace orvalink::chat
