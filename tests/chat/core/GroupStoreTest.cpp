// The chat core's group rules over a store kept in memory: what start-up loads, what registering
// and deleting store and do to the table, and the group's chat log that goes with it (shared by the
// receiver and, on another thread, the group's sender).
#include "chat/core/CoreTestSupport.h"

#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace orvalink::chat {

namespace {

struct MemoryStore : ChatGroupStore {
    std::vector<StoredGroup> stored;
    std::vector<StoredGroup> load(int max) const override
    {
        return {stored.begin(), stored.begin() + std::min<std::ptrdiff_t>(max, std::ssize(stored))};
    }
    void save(int index, const StoredGroup& group) override
    {
        stored.resize(static_cast<std::size_t>(index) + 1);
        stored[static_cast<std::size_t>(index)] = group;
    }
    void remove(int index, int count) override
    {
        stored.resize(static_cast<std::size_t>(count));
        stored.erase(stored.begin() + index);
    }
};

struct TableEvents : ChatGroupObserver {
    std::vector<std::string> calls;
    void groupAdded(int g) override { calls.push_back("added " + std::to_string(g)); }
    void groupRemoved(int g) override { calls.push_back("removed " + std::to_string(g)); }
};

std::vector<std::string> namesOf(const ChatGroups& groups)
{
    std::vector<std::string> names;
    for (int g = 0; g < groups.groupCount; ++g) {
        const ChatGroup& group = groups.groups[static_cast<std::size_t>(g)];
        names.push_back(group.port + "/" + group.name + "/" + group.displayName);
    }
    return names;
}

TEST(GroupStore, LoadingTakesTheStoredGroupsInOrderUpToTheTableSize)
{
    for (const int stored : {0, 2, kMaxChatGroups + 1}) {
        MemoryStore store;
        for (int n = 0; n < stored; ++n)
            store.stored.push_back({n == 0 ? "12122abc" : std::to_string(12000 + n), "G" + std::to_string(n), "me"});
        ChatGroups groups;
        groups.loadGroups(store);
        ASSERT_EQ(groups.groupCount, std::min(stored, kMaxChatGroups)) << stored;
        if (stored > 0) {
            EXPECT_EQ(namesOf(groups).front(), "12122abc/G0/me"); // the port text as typed
            EXPECT_EQ(groups.groupByPort(12122), 0);
        }
    }
}

TEST(GroupStore, AddingStoresBehindTheLastRemovingMovesTheLaterOnesDownWithTheirLogs)
{
    ScratchLogs logs;
    MemoryStore store;
    ChatGroups groups;
    TableEvents events;
    groups.addObserver(events);
    for (const char* name : {"A", "B", "C"})
        groups.addGroup({std::string("1212") + name, name, "me"}, store);
    EXPECT_EQ(namesOf(groups), (std::vector<std::string>{"1212A/A/me", "1212B/B/me", "1212C/C/me"}));
    ASSERT_EQ(store.stored.size(), 3u);
    EXPECT_EQ(store.stored[2].name, "C");
    EXPECT_EQ(events.calls, (std::vector<std::string>{"added 0", "added 1", "added 2"}));

    logs.attach(groups);
    ChatLog* logOfB = groups.chatLog(1);
    ChatLog* logOfC = groups.chatLog(2);
    logOfB->log("B", "To: me", "kept open");
    groups.removeGroup(0, store);
    EXPECT_EQ(namesOf(groups), (std::vector<std::string>{"1212B/B/me", "1212C/C/me"}));
    ASSERT_EQ(store.stored.size(), 2u);
    EXPECT_EQ(store.stored[0].name, "B");
    // A listener holding B's log keeps writing into the same, still open, file.
    EXPECT_EQ(groups.chatLog(0), logOfB);
    EXPECT_EQ(groups.chatLog(1), logOfC);
    EXPECT_TRUE(logOfB->isOpen());
    EXPECT_EQ(groups.chatLog(2), nullptr); // no group there any more
    for (const int nothing : {-1, 2}) {
        groups.removeGroup(nothing, store);
        EXPECT_EQ(groups.groupCount, 2);
        EXPECT_EQ(store.stored.size(), 2u);
    }

    // A full table stores nothing and tells nobody.
    for (int n = 2; n < kMaxChatGroups; ++n)
        ASSERT_EQ(groups.addGroup({std::to_string(13000 + n), "G", "me"}, store), n);
    events.calls.clear();
    EXPECT_EQ(groups.addGroup({"14000", "full", "me"}, store), -1);
    EXPECT_EQ(store.stored.size(), static_cast<std::size_t>(kMaxChatGroups));
    EXPECT_TRUE(events.calls.empty());
}

// The receiver logs received items on its thread while the group's sender logs what it sends on
// another one, into the one log of the group: every record lands whole (the ThreadSanitizer leg
// runs this).
TEST(GroupStore, ReceivedAndSentItemsShareTheGroupsLogAcrossThreads)
{
    ScratchLogs logs;
    ScriptedIo io;
    ChatGroups groups;
    configureGroup(groups, 0, "12121", "A", "me");
    logs.attach(groups);
    GroupReceiver receiver(io, groups);
    ChatLog& log = *groups.chatLog(0); // what the group's listener is handed
    constexpr int kEach = 200;
    std::thread sender([&log] {
        for (int i = 0; i < kEach; ++i)
            log.log("A", "To: me", "sent");
    });
    for (int i = 0; i < kEach; ++i)
        receiver.handle(0, "WR1#taro#C#received", "10.0.0.2", 12121);
    sender.join();

    std::string content = logs.read("A");
    const std::string to = ScratchLogs::record("To: me", "sent");
    const std::string from = ScratchLogs::record("From: taro", "received");
    int sent = 0;
    int received = 0;
    while (!content.empty()) {
        if (content.starts_with(to)) {
            ++sent;
            content.erase(0, to.size());
        } else if (content.starts_with(from)) {
            ++received;
            content.erase(0, from.size());
        } else {
            FAIL() << "a torn record: " << content.substr(0, 80);
        }
    }
    EXPECT_EQ(sent, kEach);
    EXPECT_EQ(received, kEach);
}

} // namespace

} // namespace orvalink::chat
