// The group table's own operations, without a widget: registering and deleting groups (the store,
// the table, the listeners, the write-window threads, the current group and what the observers
// hear), and the write-window slots.

#include "chat/CNetMsgDlg.h"
#include "chat/CNetMsgThread.h"
#include "chat/CSendChatThread.h"
#include "chat/ChatGroupObserver.h"
#include "chat/ChatTestSupport.h"
#include "platform/text/Cp932.h"
#include "support/PrivateNetwork.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace orvalink::chat {

namespace {

constexpr const char* kNetMsg = "NetMsg Entry";

struct Stored {
    std::string port, groupName, name;
};

class RecordingObserver : public ChatGroupObserver {
public:
    void groupAdded(int g) override { calls.push_back("added " + std::to_string(g)); }
    void groupRemoved(int g) override { calls.push_back("removed " + std::to_string(g)); }
    void groupRowsChanged(int g) override { calls.push_back("rows " + std::to_string(g)); }
    void memberAdded(int g, std::string_view key) override
    {
        calls.push_back("member+ " + std::to_string(g) + " " + std::string(key));
    }
    void memberRemoved(int g, std::string_view key) override
    {
        calls.push_back("member- " + std::to_string(g) + " " + std::string(key));
    }
    std::vector<std::string> calls;
};

class GroupTable : public ::testing::Test {
protected:
    void SetUp() override { ORVALINK_REQUIRE_PRIVATE_NETWORK(); }
    void TearDown() override { table.clear(); }

    platform::Profile& store() { return platform::Profile::application(); }
    std::string stored(const char* name, int n) { return store().getString(kNetMsg, name + std::to_string(n), "-"); }
    Stored storedGroup(int n) { return {stored("User Port", n), stored("User PortName", n), stored("User Name", n)}; }
    // A write-window thread of group g, as an opener makes it (no window: the test has no widgets).
    CSendChatThread* openWriteThread(int g)
    {
        auto t = std::make_unique<CSendChatThread>();
        t->setGroupIndex(g);
        return table.openWriteWindow(std::move(t), nullptr);
    }

    ProfileSandbox sandbox;
    ChatGroupTable table;
    RecordingObserver observer;
};

bool operator==(const Stored& a, const Stored& b)
{
    return a.port == b.port && a.groupName == b.groupName && a.name == b.name;
}

void PrintTo(const Stored& s, std::ostream* os)
{
    *os << "{" << s.port << ", " << s.groupName << ", " << s.name << "}";
}

TEST_F(GroupTable, RegisteringStoresAppendsTellsAndStartsTheListener)
{
    const std::string japanese = platform::utf8ToCp932("営業部");
    struct Case {
        const char* what;
        std::vector<Stored> before;
        Stored added;
        int port; // what the listener binds
    };
    const std::vector<Case> cases = {
        {"first group", {}, {"12121", "A", "a"}, 12121},
        {"after two, port text with trailing letters",
         {{"12121", "A", "a"}, {"12122", "B", "b"}},
         {"12123abc", japanese, "me"},
         12123},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        table.clear();
        ProfileSandbox fresh;
        for (const Stored& s : c.before)
            ASSERT_GE(table.registerGroup(s.port, s.groupName, s.name, store()), 0);
        table.addObserver(observer);
        observer.calls.clear();

        const int g = table.registerGroup(c.added.port, c.added.groupName, c.added.name, store());

        const int count = static_cast<int>(c.before.size()) + 1;
        EXPECT_EQ(g, count - 1);
        EXPECT_EQ(store().getInt(kNetMsg, "User PortCnt", -1), count);
        for (int n = 1; n < count; ++n)
            EXPECT_EQ(storedGroup(n), c.before[static_cast<std::size_t>(n - 1)]);
        EXPECT_EQ(storedGroup(count), c.added);
        ASSERT_EQ(table.groupCount, count);
        const ChatGroup& group = table.groups[static_cast<std::size_t>(g)];
        EXPECT_EQ(group.port, c.added.port);
        EXPECT_EQ(group.name, c.added.groupName);
        EXPECT_EQ(group.displayName, c.added.name);
        EXPECT_EQ(observer.calls, std::vector<std::string>{"added " + std::to_string(g)});
        ASSERT_NE(table.listener(g), nullptr);
        EXPECT_EQ(table.listener(g)->port(), c.port);
        EXPECT_TRUE(table.listener(g)->socketOpen());
        table.removeObserver(observer);
    }
}

TEST_F(GroupTable, AFullTableRegistersNothing)
{
    table.groupCount = kMaxChatGroups;
    table.addObserver(observer);
    EXPECT_EQ(table.registerGroup("12121", "A", "a", store()), -1);
    EXPECT_EQ(store().getInt(kNetMsg, "User PortCnt", -1), -1);
    EXPECT_EQ(stored("User Port", kMaxChatGroups + 1), "-");
    EXPECT_TRUE(observer.calls.empty());
    table.groupCount = 0;
}

TEST_F(GroupTable, LoadingReadsTheStoredGroupsAsStored)
{
    // 表 and ソ end in a backslash byte; the texts come back byte for byte.
    const std::string japanese = platform::utf8ToCp932("表計算ソフト部");
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> keys; // written before loading
        int count;                                             // groupCount after loading
        std::vector<std::pair<int, Stored>> expected;          // some of the loaded groups
    };
    std::vector<std::pair<std::string, std::string>> many = {{"User PortCnt", "150"}};
    for (int n : {1, 100, 101}) {
        const std::string i = std::to_string(n);
        many.insert(many.end(), {{"User Port" + i, std::to_string(20000 + n)},
                                 {"User PortName" + i, "G" + i},
                                 {"User Name" + i, "me" + i}});
    }
    const std::vector<Case> cases = {
        {"nothing stored", {}, 0, {}},
        {"a negative count", {{"User PortCnt", "-3"}, {"User Port1", "12121"}}, 0, {}},
        {"code page 932 names",
         {{"User PortCnt", "2"},
          {"User Port1", "12121"},
          {"User PortName1", japanese},
          {"User Name1", japanese + "\\"},
          {"User Port2", "12122abc"},
          {"User PortName2", "B"},
          {"User Name2", "b"}},
         2,
         {{0, {"12121", japanese, japanese + "\\"}}, {1, {"12122abc", "B", "b"}}}},
        {"missing keys read as empty",
         {{"User PortCnt", "3"}, {"User Port1", "12121"}, {"User PortName2", "B"}, {"User Name3", "c"}},
         3,
         {{0, {"12121", "", ""}}, {1, {"", "B", ""}}, {2, {"", "", "c"}}}},
        {"more than a hundred", many, kMaxChatGroups, {{0, {"20001", "G1", "me1"}}, {99, {"20100", "G100", "me100"}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ChatGroupTable loaded;
        ProfileSandbox fresh;
        for (const auto& [key, value] : c.keys)
            store().writeString(kNetMsg, key, value);

        loaded.load(store());

        EXPECT_EQ(loaded.groupCount, c.count);
        for (const auto& [g, group] : c.expected) {
            const ChatGroup& got = loaded.groups[static_cast<std::size_t>(g)];
            EXPECT_EQ((Stored{got.port, got.name, got.displayName}), group) << "group " << g;
        }
        // Loading starts nothing and stores nothing.
        EXPECT_EQ(loaded.listener(0), nullptr);
        EXPECT_EQ(store().getString(kNetMsg, "User PortCnt", "-"), c.keys.empty() ? "-" : c.keys[0].second);
    }
}

TEST_F(GroupTable, DeletingMovesEverythingAfterTheGroupDownByOne)
{
    const std::vector<Stored> groups = {{"12121", "A", "a"}, {"12122", "B", "b"}, {"12123", "C", "c"}};
    // First, middle and last of three.
    for (const int deleted : {0, 1, 2}) {
        SCOPED_TRACE("deleting " + std::to_string(deleted));
        table.clear();
        ProfileSandbox fresh;
        std::vector<CNetMsgThread*> listeners;
        std::vector<CSendChatThread*> windows;
        for (std::size_t i = 0; i < groups.size(); ++i) {
            const int g = table.registerGroup(groups[i].port, groups[i].groupName, groups[i].name, store());
            table.groups[i].members = {"10.0.0.9#1212" + std::to_string(i + 1) + "#m" + std::to_string(i)};
            table.appendRow(g,
                            {groups[i].groupName, 18, "row of " + groups[i].groupName, chat::RowKind::Message, true});
            listeners.push_back(table.listener(g));
            windows.push_back(openWriteThread(g));
            ASSERT_NE(windows.back(), nullptr);
        }
        // A name change of C waiting for the next start moves with C in the store.
        store().writeString(kNetMsg, "User Name3", "c2");
        table.addObserver(observer);
        observer.calls.clear();

        table.deleteGroup(deleted, store());

        std::vector<Stored> left = groups;
        left[2].name = "c2";
        left.erase(left.begin() + deleted);
        // The store: the count, the groups after the deleted one a key lower, the former last
        // group's keys left beyond the count.
        EXPECT_EQ(store().getInt(kNetMsg, "User PortCnt", -1), 2);
        EXPECT_EQ(storedGroup(1), left[0]);
        EXPECT_EQ(storedGroup(2), left[1]);
        EXPECT_EQ(storedGroup(3), (Stored{"12123", "C", "c2"}));

        // The table: groups with their members, rows and listeners (told their new index).
        ASSERT_EQ(table.groupCount, 2);
        for (int g = 0; g < 2; ++g) {
            const int from = g < deleted ? g : g + 1;
            const auto gi = static_cast<std::size_t>(g);
            EXPECT_EQ(table.groups[gi].port, groups[static_cast<std::size_t>(from)].port);
            ASSERT_EQ(table.groups[gi].rows.size(), 1u);
            EXPECT_EQ(table.groups[gi].rows[0].body, "row of " + groups[static_cast<std::size_t>(from)].groupName);
            EXPECT_EQ(table.groups[gi].members.size(), 1u);
            EXPECT_EQ(table.listener(g), listeners[static_cast<std::size_t>(from)]);
            EXPECT_EQ(table.listener(g)->groupIndex(), g);
            EXPECT_EQ(table.listener(g)->window()->groupIndex(), g);
        }
        EXPECT_TRUE(table.groups[2].port.empty() && table.groups[2].rows.empty());
        EXPECT_EQ(table.listener(2), nullptr);

        // The write windows: the deleted group's has none, later ones follow their group.
        for (int w = 0; w < 3; ++w) {
            const int expected = w < deleted ? w : w == deleted ? -1 : w - 1;
            EXPECT_EQ(windows[static_cast<std::size_t>(w)]->groupIndex(), expected) << "window of " << w;
        }
        EXPECT_EQ(table.chatWriteCount(), 3);

        EXPECT_EQ(observer.calls, std::vector<std::string>{"removed " + std::to_string(deleted)});
        table.removeObserver(observer);
    }
}

TEST_F(GroupTable, DeletingTheOnlyGroupEmptiesTheTableAndTheStoreCount)
{
    table.registerGroup("12121", "A", "a", store());
    table.addObserver(observer);
    table.deleteGroup(0, store());
    EXPECT_EQ(table.groupCount, 0);
    EXPECT_EQ(table.listener(0), nullptr);
    EXPECT_EQ(store().getInt(kNetMsg, "User PortCnt", -1), 0);
    EXPECT_EQ(storedGroup(1), (Stored{"12121", "A", "a"}));
    EXPECT_EQ(observer.calls, std::vector<std::string>{"removed 0"});

    // An index without a group changes nothing.
    observer.calls.clear();
    table.deleteGroup(0, store());
    table.deleteGroup(-1, store());
    EXPECT_TRUE(observer.calls.empty());
    EXPECT_EQ(store().getInt(kNetMsg, "User PortCnt", -1), 0);
}

TEST_F(GroupTable, MembersAreToldOnceEach)
{
    table.groups[0].port = "12121";
    table.groupCount = 1;
    table.addObserver(observer);
    EXPECT_TRUE(table.addMember(0, "k1"));
    EXPECT_FALSE(table.addMember(0, "k1"));
    EXPECT_FALSE(table.removeMember(0, "k2"));
    EXPECT_TRUE(table.removeMember(0, "k1"));
    EXPECT_EQ(observer.calls, (std::vector<std::string>{"member+ 0 k1", "member- 0 k1"}));
}

TEST_F(GroupTable, WriteWindowSlotsAreTakenInOrderAndFreedWhenTheWindowCloses)
{
    CSendChatThread* first = openWriteThread(0);
    CSendChatThread* second = openWriteThread(0);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->slotIndex(), 0);
    EXPECT_EQ(second->slotIndex(), 1);
    EXPECT_EQ(first->table(), &table);
    EXPECT_EQ(table.chatWriteCount(), 2);

    table.closeWriteWindow(*first);
    EXPECT_EQ(table.chatWriteCount(), 1);
    EXPECT_EQ(table.chatWriteSlots()[0], nullptr);
    EXPECT_EQ(table.chatWriteSlots()[1], second);

    CSendChatThread* third = openWriteThread(0);
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(third->slotIndex(), 0);

    // Every slot in use: nothing more is taken, and the thread offered is not started.
    for (int i = 2; i < kMaxChatWriteWindows; ++i)
        ASSERT_NE(openWriteThread(0), nullptr) << i;
    EXPECT_FALSE(table.hasFreeWriteSlot());
    EXPECT_EQ(openWriteThread(0), nullptr);
    EXPECT_EQ(table.chatWriteCount(), kMaxChatWriteWindows);

    // Clearing ends every thread still running.
    table.clear();
    EXPECT_EQ(table.chatWriteCount(), 0);
    EXPECT_TRUE(table.hasFreeWriteSlot());
}

} // namespace

} // namespace orvalink::chat
