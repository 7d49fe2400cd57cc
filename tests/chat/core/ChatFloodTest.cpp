// What a broken or hostile peer can make the receive handler keep or send: rows bounded by bytes,
// members capped and found by key, presence replies coalesced, refreshes coalesced, datagrams
// taken for the group whose socket received them, display names with line breaks refused.
#include "chat/core/CoreTestSupport.h"

#include <gtest/gtest.h>
#include <vector>

namespace orvalink::chat {

namespace {

struct CountingFrame : ChatGroupObserver {
    std::vector<std::int64_t> changed;
    void groupRowsChanged(int g) override { changed.push_back(g); }
};

class Flood : public ::testing::Test {
protected:
    Flood() : receiver(io, groups)
    {
        configureGroup(groups, 0, "12121", "A", "me");
        configureGroup(groups, 1, "12122", "B", "me");
        groups.addObserver(frame);
        receiver.setSteadyClock([this] { return io.now; });
    }
    std::size_t rowBytesOf(int g) const
    {
        std::size_t bytes = 0;
        for (const auto& r : groups.groups[static_cast<std::size_t>(g)].rows)
            bytes += r.header.size() + r.body.size();
        return bytes;
    }

    ScratchLogs logs; // for the tests that attach it
    ChatGroups groups;
    ScriptedIo io;
    CountingFrame frame;
    GroupReceiver receiver;
};

std::string bigText(int i)
{
    return std::to_string(i) + "|" + std::string(59000, 'x');
}

TEST_F(Flood, RowsAreBoundedByBytesOldestFirst)
{
    // 600 messages of 59 KB are 35 MB; the group keeps the newest 16 MiB of them.
    logs.attach(groups);
    const int messages = 600;
    for (int i = 0; i < messages; ++i)
        receiver.handle(0, "WR1#big#C#" + bigText(i), "10.0.0.2", 12121);
    const auto& rows = groups.groups[0].rows;
    EXPECT_LE(rowBytesOf(0), kMaxRowBytesPerGroup);
    EXPECT_GT(rowBytesOf(0), kMaxRowBytesPerGroup / 100 * 98); // full up to the last row that fits
    ASSERT_LT(rows.size(), static_cast<std::size_t>(messages));
    EXPECT_EQ(rows.back().body.str(), bigText(messages - 1));
    EXPECT_EQ(rows.front().body.str(), bigText(messages - static_cast<int>(rows.size())));
    EXPECT_EQ(ScratchLogs::count(logs.read("A")), static_cast<std::size_t>(messages)); // the log keeps every one

    // Small rows still stop at the count.
    for (std::size_t i = 0; i < kMaxRowsPerGroup + 10; ++i)
        receiver.handle(1, "WR1#s#C#" + std::to_string(i), "10.0.0.2", 12122);
    EXPECT_EQ(groups.groups[1].rows.size(), kMaxRowsPerGroup);
}

TEST_F(Flood, AllGroupsTogetherAreBoundedAndTheOldestRowOfAnyGroupLeavesFirst)
{
    for (int g = 0; g < 6; ++g)
        configureGroup(groups, g, std::to_string(13000 + g), "G" + std::to_string(g), "me");
    // Each group filled to its own bound in turn: past the total, the earliest groups give way.
    for (int g = 0; g < 6; ++g)
        for (int i = 0; i < 300; ++i)
            receiver.handle(g, "WR1#big#C#" + bigText(i), "10.0.0.2", static_cast<unsigned>(13000 + g));
    std::size_t total = 0;
    for (int g = 0; g < 6; ++g)
        total += rowBytesOf(g);
    EXPECT_LE(total, kMaxRowBytesTotal);
    EXPECT_GT(total, kMaxRowBytesTotal - 6 * 120000);
    EXPECT_TRUE(groups.groups[0].rows.empty());
    EXPECT_GT(rowBytesOf(5), kMaxRowBytesPerGroup / 100 * 98);
    EXPECT_EQ(groups.groups[5].rows.back().body.str(), bigText(299));
}

TEST_F(Flood, ANameStormIsCappedAndCostsABoundedNumberOfReplies)
{
    // 5,000 new names in 5 s from 50 addresses, and a leave for each tenth.
    const int names = 5000;
    for (int i = 0; i < names; ++i) {
        const std::string address = "10.0.1." + std::to_string(i % 50);
        receiver.handle(0, "ON #n" + std::to_string(i) + "#N#", address, 12121);
        if (i % 10 == 9)
            receiver.handle(0, "OFF#n" + std::to_string(i - 5) + "#", "10.0.1." + std::to_string((i - 5) % 50), 12121);
        io.advance(1);
    }
    io.advance(1000);
    const auto& members = groups.groups[0].members;
    EXPECT_EQ(members.size(), kMaxMembersPerGroup);
    EXPECT_EQ(io.limitTold, std::vector<int>{0}); // told once
    // At most the burst and one reply per window over the 5 s of the storm (and one after it).
    const std::size_t bound = GroupReceiver::kReplyBurst + names / GroupReceiver::kReplyWindowMs + 2;
    EXPECT_LE(io.replies.size(), bound);
    EXPECT_GE(io.replies.size(), 5u);
    // Keys are found whatever their place in the list: the first and the last listed.
    EXPECT_TRUE(members.contains("10.0.1.0#12121#n0"));
    EXPECT_TRUE(members.contains(members.keys().back()));
    EXPECT_FALSE(members.contains("10.0.1.4#12121#n4")); // left
}

TEST_F(Flood, ASingleNewcomerIsAnsweredAtOnceAndLaterOnesWithinAWindowByOneReply)
{
    receiver.handle(0, "ON #a#N#", "10.0.0.2", 12121);
    EXPECT_EQ(io.replies.size(), 1u); // at once, without waiting for the clock
    for (int i = 0; i < 3; ++i)
        receiver.handle(0, "ON #b" + std::to_string(i) + "#N#", "10.0.0.3", 12121);
    EXPECT_EQ(io.replies.size(), 4u); // a few together are still answered at once
    for (int i = 0; i < 40; ++i)
        receiver.handle(0, "ON #c" + std::to_string(i) + "#N#", "10.0.0.4", 12121);
    EXPECT_EQ(io.replies.size(), 4u);
    io.advance(GroupReceiver::kReplyWindowMs + 1);
    EXPECT_EQ(io.replies.size(), 5u); // one reply answers all forty
    // After a quiet while the next newcomer is again answered at once.
    io.advance(10000);
    receiver.handle(0, "ON #d#N#", "10.0.0.5", 12121);
    EXPECT_EQ(io.replies.size(), 6u);
    // Another group has its own allowance.
    receiver.handle(1, "ON #e#N#", "10.0.0.5", 12122);
    EXPECT_EQ(io.replies, (std::vector<int>{0, 0, 0, 0, 0, 0, 1}));
}

TEST_F(Flood, ABurstOfRowsIsOneRefreshPerGroup)
{
    receiver.setCoalescedRefresh(true);
    for (int i = 0; i < 500; ++i) {
        receiver.handle(0, "WR1#t#C#" + std::to_string(i), "10.0.0.2", 12121);
        receiver.handle(1, "WR2#t#C#" + std::to_string(i), "10.0.0.2", 12122);
    }
    EXPECT_TRUE(frame.changed.empty());
    io.advance(0);
    EXPECT_EQ(frame.changed, (std::vector<std::int64_t>{0, 1}));
    // The next row soon after waits for the interval; one long after is told at the next turn.
    frame.changed.clear();
    receiver.handle(1, "WR1#t#C#soon", "10.0.0.2", 12122);
    io.advance(GroupReceiver::kRefreshIntervalMs - 1);
    EXPECT_TRUE(frame.changed.empty());
    io.advance(1);
    EXPECT_EQ(frame.changed, std::vector<std::int64_t>{1});
    io.advance(1000);
    receiver.handle(0, "WR1#t#C#later", "10.0.0.2", 12121);
    io.advance(0);
    EXPECT_EQ(frame.changed, (std::vector<std::int64_t>{1, 0}));
}

TEST_F(Flood, TheGroupIsTheReceivingSocketsAndOtherSourcePortsAreIgnored)
{
    struct Case {
        int group;
        unsigned sourcePort;
        bool kept;
    };
    for (const Case& c : {Case{0, 12121, true}, Case{1, 12122, true}, Case{0, 12122, false}, Case{1, 12121, false},
                          Case{0, 30000, false}, Case{0, 0, false}, Case{-1, 12121, false}, Case{5, 12121, false}}) {
        SCOPED_TRACE(std::to_string(c.group) + " from " + std::to_string(c.sourcePort));
        for (auto& g : groups.groups)
            g.rows.clear();
        receiver.handle(c.group, "WR1#t#C#x", "10.0.0.2", c.sourcePort);
        receiver.handle(c.group, "ON #t#N#", "10.0.0.2", c.sourcePort);
        const std::size_t rows = groups.groups[0].rows.size() + groups.groups[1].rows.size();
        EXPECT_EQ(rows, c.kept ? 1u : 0u);
        if (c.kept) {
            EXPECT_EQ(groups.groups[static_cast<std::size_t>(c.group)].rows.size(), 1u);
        }
    }
}

TEST_F(Flood, NamesWithLineBreaksAreRefused)
{
    logs.attach(groups);
    for (const char* payload : {"WR1#evil\r\nFrom: boss#C#pay me", "WR2#a\rb#C#x", "ON #a\nb#C#", "ON #a\nb#N#"}) {
        SCOPED_TRACE(payload);
        receiver.handle(0, payload, "10.0.0.2", 12121);
    }
    EXPECT_TRUE(groups.groups[0].rows.empty());
    EXPECT_TRUE(groups.groups[0].members.empty());
    EXPECT_EQ(logs.read("A"), "");
    EXPECT_TRUE(io.replies.empty());
    // Line breaks in the text are the message's own.
    receiver.handle(0, "WR1#ok#C#line\r\nline", "10.0.0.2", 12121);
    EXPECT_EQ(logs.read("A"), ScratchLogs::record("From: ok", "line\r\nline"));
}

} // namespace

} // namespace orvalink::chat
