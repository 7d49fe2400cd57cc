// The chat core without any window: what each datagram kind does to the groups and which
// observer calls, replies, log records and message hooks it causes, in order.
#include "chat/core/CoreTestSupport.h"
#include "platform/text/Cp932.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace orvalink::chat {

namespace {

// Every observer call as one line, in the order they came.
struct TraceObserver : ChatGroupObserver {
    std::vector<std::string> calls;
    void memberAdded(int g, std::string_view key) override { note("member+", g, key); }
    void memberRemoved(int g, std::string_view key) override { note("member-", g, key); }
    void groupAdded(int g) override { note("group+", g); }
    void groupRemoved(int g) override { note("group-", g); }
    void groupRowsChanged(int g) override { note("rows", g); }
    void groupMembersChanged(int g) override { note("members", g); }
    void announceFailureChanged() override { note("announce", -1); }
    void note(const char* what, int g, std::string_view key = {})
    {
        calls.push_back(std::string(what) + " " + std::to_string(g) + (key.empty() ? "" : " " + std::string(key)));
    }
};

class Core : public ::testing::Test {
protected:
    Core() : receiver(io, groups)
    {
        configureGroup(groups, 0, "12121", "A", "me");
        configureGroup(groups, 1, "12122", "B", "me");
        logs.attach(groups);
        groups.addObserver(trace);
        receiver.setClock([] { return std::time_t{0}; });
        receiver.setSteadyClock([this] { return io.now; });
        receiver.setMessageHook(
            [this](int g, const ChatRow& row) { hooked.push_back(std::to_string(g) + " " + row.body.str()); });
    }

    ScratchLogs logs;
    ScriptedIo io;
    ChatGroups groups;
    TraceObserver trace;
    GroupReceiver receiver;
    std::vector<std::string> hooked;
};

TEST_F(Core, EachDatagramKindChangesTheGroupsAndTellsTheObservers)
{
    const std::string joined = platform::utf8ToCp932("さんが参加しました");
    struct Step {
        std::string payload;
        std::string address;
        std::vector<std::string> calls; // observer calls of this datagram
        std::size_t members;            // of group 0 afterwards
        std::size_t rows;
        std::size_t replies; // in all so far
        std::size_t logs;
        std::size_t hooks;
    };
    const std::vector<Step> steps = {
        {"ON #taro#N#", "10.0.0.2", {"member+ 0 10.0.0.2#12121#taro", "members 0"}, 1, 0, 1, 0, 0},
        {"ON #taro#N#", "10.0.0.2", {}, 1, 0, 1, 0, 0}, // known: no reply
        {"ON #taro#N#", "10.0.0.3", {"member+ 0 10.0.0.3#12121#taro", "members 0"}, 2, 0, 2, 0, 0},
        {"ON #hana#C#", "10.0.0.4", {"rows 0"}, 2, 1, 2, 1, 0}, // a join notice lists no member
        {"WR1#taro#C#hi", "10.0.0.2", {"rows 0"}, 2, 2, 2, 2, 1},
        {"WR2#taro#C#psst", "10.0.0.2", {"rows 0"}, 2, 3, 2, 3, 2},
        {"OFF#nobody#", "10.0.0.2", {}, 2, 3, 2, 3, 2},
        {"OFF#taro#", "10.0.0.2", {"member- 0 10.0.0.2#12121#taro", "members 0"}, 1, 3, 2, 3, 2},
        {"WR1#taro#N#flag N", "10.0.0.2", {}, 1, 3, 2, 3, 2},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.payload + " from " + s.address);
        trace.calls.clear();
        receiver.handle(0, s.payload, s.address, 12121);
        EXPECT_EQ(trace.calls, s.calls);
        EXPECT_EQ(groups.groups[0].members.size(), s.members);
        EXPECT_EQ(groups.groups[0].rows.size(), s.rows);
        EXPECT_EQ(io.replies.size(), s.replies);
        EXPECT_EQ(ScratchLogs::count(logs.read("A")), s.logs);
        EXPECT_EQ(hooked.size(), s.hooks);
    }
    EXPECT_EQ(hooked, (std::vector<std::string>{"0 hi", "0 psst"}));
    // The received items go into group A's own log, byte for byte as the log writer writes them.
    EXPECT_EQ(logs.read("A"), ScratchLogs::record("From: hana", "hana" + joined) +
                                  ScratchLogs::record("From: taro", "hi") + ScratchLogs::record("From: taro", "psst"));
    EXPECT_EQ(logs.read("B"), "");
    // Each newcomer was answered with this instance's presence announcement in the group.
    EXPECT_EQ(io.replyDatagrams, (std::vector<std::string>{"0001#0001#ON #me#N#", "0001#0001#ON #me#N#"}));
    const auto& rows = groups.groups[0].rows;
    EXPECT_EQ(rows[1].senderKey.str(), "10.0.0.2#12121#taro");
    EXPECT_LT(rows[0].serial, rows[1].serial);
    EXPECT_LT(rows[1].serial, rows[2].serial);
    EXPECT_TRUE(groups.groups[1].rows.empty());
}

TEST_F(Core, GroupsAreFoundByTheNumberTheirPortTextReadsAs)
{
    struct Case {
        const char* port;
        unsigned asked;
        int found;
    };
    for (const Case& c : {Case{"12122abc", 12122, 1}, Case{"12122", 12122, 1}, Case{"0", 0, -1}, Case{"", 0, -1},
                          Case{"abc", 0, -1}, Case{"012123", 12123, 1}, Case{"12124", 12123, -1}}) {
        SCOPED_TRACE(c.port);
        groups.groups[1].port = c.port;
        EXPECT_EQ(groups.groupByPort(c.asked), c.found);
    }
    // Two groups on one port: the first is the one found.
    groups.groups[1].port = "12121";
    EXPECT_EQ(groups.groupByPort(12121), 0);
}

TEST_F(Core, AnObserverMayLeaveDuringACallAndTheOthersStillHearIt)
{
    struct Leaving : ChatGroupObserver {
        ChatGroups* from = nullptr;
        int heard = 0;
        void groupRowsChanged(int) override
        {
            ++heard;
            from->removeObserver(*this);
        }
    } leaving;
    leaving.from = &groups;
    groups.addObserver(leaving);
    groups.addObserver(leaving); // once only
    TraceObserver after;
    groups.addObserver(after);
    groups.notifyRowsChanged(1);
    groups.notifyRowsChanged(0);
    EXPECT_EQ(leaving.heard, 1);
    EXPECT_FALSE(groups.isObserver(leaving));
    EXPECT_EQ(after.calls, (std::vector<std::string>{"rows 1", "rows 0"}));
    groups.notifyGroupAdded(2);
    groups.notifyGroupRemoved(1);
    groups.notifyAnnounceFailureChanged();
    EXPECT_EQ(after.calls, (std::vector<std::string>{"rows 1", "rows 0", "group+ 2", "group- 1", "announce -1"}));
}

TEST(CoreLifetime, TasksOfAReceiverThatIsGoneDoNothing)
{
    ScriptedIo io;
    ChatGroups groups;
    configureGroup(groups, 0, "12121", "A", "me");
    TraceObserver trace;
    groups.addObserver(trace);
    {
        GroupReceiver receiver(io, groups);
        receiver.setSteadyClock([&io] { return io.now; });
        receiver.setCoalescedRefresh(true);
        // Past the burst a reply is scheduled, and a coalesced refresh waits for its turn.
        for (int i = 0; i < GroupReceiver::kReplyBurst + 3; ++i)
            receiver.handle(0, "ON #n" + std::to_string(i) + "#N#", "10.0.0.2", 12121);
        receiver.handle(0, "WR1#n0#C#x", "10.0.0.2", 12121);
    }
    ASSERT_GE(io.timers.size(), 2u);
    trace.calls.clear();
    io.advance(10000);
    EXPECT_EQ(io.replies.size(), static_cast<std::size_t>(GroupReceiver::kReplyBurst));
    EXPECT_TRUE(trace.calls.empty());
}

} // namespace

} // namespace orvalink::chat
