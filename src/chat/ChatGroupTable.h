#pragma once

// The chat state the whole program shares: up to 100 groups, each with its port, names, listener,
// members and rows. It lives in the application object for the life of the process. It is written
// on the main thread only (start-up, the receive path, the tree, the port settings); listener
// threads keep their own copies of what they need to send, so they never read it.

#include "chat/SharedText.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <string>
#include <unordered_set>
#include <vector>

namespace orvalink::platform {
class MessageTarget;
} // namespace orvalink::platform

namespace orvalink::chat {

class CNetMsgThread;
class CSendChatThread;
class ChatTree;

inline constexpr int kMaxChatGroups = 100;
inline constexpr int kMaxChatWriteWindows = 100;

// A group keeps at most this many rows (the right pane's capacity) ...
inline constexpr std::size_t kMaxRowsPerGroup = 7878;
// ... and at most this many bytes of rows; all groups together at most kMaxRowBytesTotal. When a
// bound is passed the oldest rows leave first (of the group, or of all groups for the total), so
// the list always shows the newest rows; the chat log keeps everything.
inline constexpr std::size_t kMaxRowBytesPerGroup = 16u << 20;
inline constexpr std::size_t kMaxRowBytesTotal = 64u << 20;
// A group lists at most this many members; further keys are not listed.
inline constexpr std::size_t kMaxMembersPerGroup = 2000;

// One message row of a group: five texts, always appended together.
struct ChatRow {
    SharedText header;    // display name + "  %Y/%m/%d  %H:%M:%S" (+ " (続く)" when capped)
    std::string height;   // row height in pixels, decimal text
    SharedText body;      // the message text, or the join line
    std::string personal; // "1" for a personal message, else empty
    std::string unread;   // "1" on arrival, "0" once opened
    // Number of the row among all rows the program received (from 1, rising; 0 = not numbered),
    // so that the list can tell the rows it shows from new ones.
    std::uint64_t serial = 0;
    // The sender's member key ("address#port#name"): a reply goes to this member, not to the first
    // one of the same name.
    SharedText senderKey;
};

// What a row costs the group's byte bound: its texts and a fixed share for the row itself.
std::size_t rowBytes(const ChatRow& row);

// The member keys of a group in order of arrival, with an index so that a key is found in
// constant time whatever the number of members.
class MemberList {
public:
    MemberList() = default;
    MemberList(std::vector<std::string> keys) { assign(std::move(keys)); }
    MemberList(std::initializer_list<std::string> keys) { assign(std::vector<std::string>(keys)); }

    bool contains(const std::string& key) const { return m_index.count(key) != 0; }
    // Appends key unless it is listed already; true when it was added.
    bool add(const std::string& key);
    void push_back(const std::string& key) { add(key); }
    // Removes key; true when it was listed.
    bool remove(const std::string& key);

    std::size_t size() const { return m_keys.size(); }
    bool empty() const { return m_keys.empty(); }
    auto begin() const { return m_keys.begin(); }
    auto end() const { return m_keys.end(); }
    const std::vector<std::string>& keys() const { return m_keys; }
    operator const std::vector<std::string>&() const { return m_keys; }

    friend bool operator==(const MemberList& a, const std::vector<std::string>& b) { return a.m_keys == b; }
    friend bool operator==(const MemberList& a, const MemberList& b) { return a.m_keys == b.m_keys; }

private:
    void assign(std::vector<std::string> keys);

    std::vector<std::string> m_keys;
    std::unordered_set<std::string> m_index;
};

// When this instance last announced itself in a group as an answer to newcomers, and whether an
// answer is already on its way (main thread only).
struct PresenceReplyState {
    std::int64_t lastMs = 0; // steady clock of the last reply
    double tokens = -1;      // replies that may go at once (-1: not started, a full allowance)
    bool pending = false;    // a reply is scheduled and will answer every newcomer till then
};

struct ChatGroup {
    CNetMsgThread* listener = nullptr;
    std::string port;        // decimal text as stored; lookups compare this text
    std::string name;        // the group name
    std::string displayName; // the name this user announces in the group
    MemberList members;      // member keys, in order of arrival
    // A deque: a full group drops its oldest row at the front for every new one at the back.
    std::deque<ChatRow> rows;
    std::size_t rowBytes = 0; // what rows holds, as rowBytes() counts it
    PresenceReplyState replies;
    bool memberLimitTold = false; // the user has been told that the member list is full
};

struct ChatGroupTable {
    std::array<ChatGroup, kMaxChatGroups> groups;
    int groupCount = 0;

    std::array<CSendChatThread*, kMaxChatWriteWindows> chatWriteSlots{};
    int chatWriteCount = 0;

    std::atomic<int> treeReady{0};
    int currentGroup = 0;

    // The main window, as the target of WM_CHAT_ROWS_CHANGED; set when it is created.
    platform::MessageTarget* mainFrame = nullptr;
    // The folder tree; set together with treeReady when its first fill is done.
    ChatTree* treeView = nullptr;

    // The first group whose port text reads as port (its leading digits), or -1.
    int groupByPort(unsigned port) const;
    // Appends a row to group g, numbered, after the oldest rows have left as far as the count and
    // byte bounds require (the new row itself always stays).
    void appendRow(int g, ChatRow row);
    // The number for the next row appended anywhere (rising from 1; main thread only).
    static std::uint64_t nextRowSerial();
    // Back to the state before start-up (tests).
    void clear();
};

// The application object's table.
ChatGroupTable& chatGroupTable();

} // namespace orvalink::chat
