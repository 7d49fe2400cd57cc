#pragma once

// One chat group as the chat core keeps it: its port, names, members and rows, and the bounds on
// them.

#include "chat/core/ChatLog.h"
#include "chat/core/MemberList.h"
#include "chat/core/SharedText.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

namespace orvalink::chat {

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

// What a row stands for: a message to the whole group, one to this user alone (drawn in the
// personal row's colours), or the line that tells of a member joining.
enum class RowKind : std::uint8_t { Message, PersonalMessage, Join };

// One message row of a group.
struct ChatRow {
    SharedText header; // display name + "  %Y/%m/%d  %H:%M:%S" (+ " (続く)" when capped)
    int height = 0;    // row height in pixels
    SharedText body;   // the message text, or the join line
    RowKind kind = RowKind::Message;
    bool unread = true; // set on arrival, cleared once opened
    // Number of the row among all rows the program received (from 1, rising; 0 = not numbered),
    // so that the list can tell the rows it shows from new ones.
    std::uint64_t serial = 0;
    // The sender's member key ("address#port#name"): a reply goes to this member, not to the first
    // one of the same name.
    SharedText senderKey;
    // When the row arrived (local clock); the header shows it as text.
    std::time_t time = 0;
};

// What a row costs the group's byte bound: its texts and a fixed share for the row itself.
std::size_t rowBytes(const ChatRow& row);

// When this instance last announced itself in a group as an answer to newcomers, and whether an
// answer is already on its way (receiving thread only).
struct PresenceReplyState {
    std::int64_t lastMs = 0; // steady clock of the last reply
    double tokens = -1;      // replies that may go at once (-1: not started, a full allowance)
    bool pending = false;    // a reply is scheduled and will answer every newcomer till then
};

struct ChatGroup {
    std::string port;        // decimal text as stored; lookups compare this text
    std::string name;        // the group name
    std::string displayName; // the name this user announces in the group
    MemberList members;      // member keys, in order of arrival
    // A deque: a full group drops its oldest row at the front for every new one at the back.
    std::deque<ChatRow> rows;
    std::size_t rowBytes = 0; // what rows holds, as rowBytes() counts it
    PresenceReplyState replies;
    bool memberLimitTold = false; // the user has been told that the member list is full
    // The group's chat log (ChatGroups::chatLog makes it): received items are logged into it on the
    // main thread, sent ones on the group's listener thread, which holds it by reference. The group
    // owns it, so it moves with the group when an earlier group is deleted.
    std::unique_ptr<ChatLog> log;
};

// "Orvalink(" + group name + ")": the label of the group's tree node and of its write windows.
std::string chatGroupLabel(std::string_view groupName);

} // namespace orvalink::chat
