#pragma once

// The chat state the whole program shares: up to 100 groups, each with its port, names, listener,
// members and rows. It lives in the application object for the life of the process. It is written
// on the main thread only (start-up, the receive path, the tree, the port settings); listener
// threads keep their own copies of what they need to send, so they never read it.

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

class CNetMsgThread;
class CSendChatThread;
class ChatTree;
namespace platform {
class MessageTarget;
}

inline constexpr int kMaxChatGroups = 100;
inline constexpr int kMaxChatWriteWindows = 100;

// One message row of a group: five texts, always appended together.
struct ChatRow {
    std::string header;   // display name + "  %Y/%m/%d  %H:%M:%S" (+ " (続く)" when capped)
    std::string height;   // row height in pixels, decimal text
    std::string body;     // the message text, or the join line
    std::string personal; // "1" for a personal message, else empty
    std::string unread;   // "1" on arrival, "0" once opened
    // Number of the row among all rows the program received (from 1, rising; 0 = not numbered),
    // so that the list can tell the rows it shows from new ones.
    std::uint64_t serial = 0;
};

struct ChatGroup {
    CNetMsgThread* listener = nullptr;
    std::string port;        // decimal text as stored; lookups compare this text
    std::string name;        // the group name
    std::string displayName; // the name this user announces in the group
    std::vector<std::string> members; // member keys, in order of arrival
    // A deque: a full group drops its oldest row at the front for every new one at the back.
    std::deque<ChatRow> rows;
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
    // Back to the state before start-up (tests).
    void clear();
};

// The application object's table.
ChatGroupTable& chatGroupTable();
