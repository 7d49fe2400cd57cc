#pragma once

// The chat state the whole program shares: up to 100 groups, each with its port, names, listener,
// members and rows, and the 100 chat write window slots. The application object owns it for the
// life of the process and hands it to those who need it. It is written on the main thread only
// (start-up, the receive path, the tree, the port settings); listener threads keep their own copies
// of what they need to send, so they never read it.

#include "chat/SharedText.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace orvalink::platform {
class MessageTarget;
class Profile;
} // namespace orvalink::platform

namespace orvalink::chat {

class CNetMsgDlg;
class CNetMsgThread;
class CSendChatThread;
class ChatGroupObserver;

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

// "Orvalink(" + group name + ")": the label of the group's tree node and of its write windows.
std::string chatGroupLabel(std::string_view groupName);

// What a group's listener does with each text its socket has assembled: (the listener's window,
// text, sender address, sender port). Runs on the main thread.
using ReceiveHandler = std::function<void(CNetMsgDlg&, std::string_view, const std::string&, unsigned)>;

// A presence announcement or join notice of this instance that could not be sent: the user is told
// until a later send succeeds.
struct AnnounceFailure {
    std::string groupName;
    int error = 0; // Windows Sockets error number
};

class ChatGroupTable {
public:
    ChatGroupTable();
    // Ends what is still running without leave notices (clear()).
    ~ChatGroupTable();
    ChatGroupTable(const ChatGroupTable&) = delete;
    ChatGroupTable& operator=(const ChatGroupTable&) = delete;

    // The groups' own data: groups[0 .. groupCount-1] are in use.
    std::array<ChatGroup, kMaxChatGroups> groups;
    int groupCount = 0;
    // The group the right pane shows.
    int currentGroup = 0;
    // Set by the folder tree when its first fill is done (it registers as an observer then).
    std::atomic<int> treeReady{0};

    // The first group whose port text reads as port (its leading digits), or -1.
    int groupByPort(unsigned port) const;
    // Appends a row to group g, numbered, after the oldest rows have left as far as the count and
    // byte bounds require (the new row itself always stays).
    void appendRow(int g, ChatRow row);
    // The number for the next row appended anywhere (rising from 1; main thread only).
    static std::uint64_t nextRowSerial();

    // Member keys of group g; the observers are told of a key that was added or removed.
    bool addMember(int g, const std::string& key);
    bool removeMember(int g, const std::string& key);

    // Start-up, before any listener runs: the stored groups ("User PortCnt", then "User Port<n>",
    // "User PortName<n>" and "User Name<n>" for n from 1) become groups 0 .. count-1 with their texts
    // as stored; a missing key reads as empty. A count above 100 loads the first 100, one below 0
    // none.
    void load(const platform::Profile& store);
    // A new group: stored as group groupCount+1 ("User PortCnt" first, then its port, group name and
    // display name), appended to the table with the texts as given (a name changed earlier stays
    // stored for the next start), shown to the observers, and its listener started. Returns its
    // index, or -1 when the table is full (nothing is stored then).
    int registerGroup(const std::string& port, const std::string& name, const std::string& displayName,
                      platform::Profile& store);
    // Deletes group g: its listener ends (no leave notice), the stored groups after it move down by
    // one (pending name changes with them; the keys of the former last group stay beyond the
    // count), and so do the table's entries, their listeners (told their new index), the open write
    // windows and the current group. The observers are told, then the current group's rows are
    // shown again: they may be another group's now.
    void deleteGroup(int g, platform::Profile& store);

    // Listeners. startListener starts group g's thread, waits until it is ready, then opens the
    // group's socket and announces this instance; listeners start strictly one after another.
    // stopListener ends it: with sendLeave the leave notice goes out first (on the listener thread,
    // waited for); the window is told to quit and the thread waited for without time-out; only
    // then is the socket drained and deleted.
    CNetMsgThread* startListener(int g);
    void stopListener(int g, bool sendLeave);
    CNetMsgThread* listener(int g) const;
    // Where the texts the listeners of this table receive go (main thread). Every listener window
    // is handed a copy when it is made, before its socket opens; setting it again (or clearing it)
    // reaches the windows already running as well. Another table's listeners never see it.
    void setReceiveHandler(ReceiveHandler handler);
    // Where group g's datagrams go out: its listener's window, to which senders send
    // WM_CHAT_SEND_GROUP and WM_CHAT_SEND_PERSONAL; null when g names no group with a listener.
    CNetMsgDlg* sendTarget(int g) const;

    // How the listeners' sends went. reportSend may be called on any thread (a listener's send
    // report); the outcome reaches sendResult on the main thread. There, the first announcement
    // that fails is kept (a further one changes nothing) and a send that succeeds forgets it; the
    // observers are told of each change.
    void reportSend(int g, bool announcement, int wsaError);
    void sendResult(int g, bool announcement, int wsaError);
    const std::optional<AnnounceFailure>& announceFailure() const { return m_announceFailure; }

    // Chat write windows. openWriteWindow takes the first free slot for the thread, starts it and
    // waits until it is ready, runs showWindow (which makes and shows the window) and counts the
    // window open. Null when no slot is free or the thread did not start.
    CSendChatThread* openWriteWindow(std::unique_ptr<CSendChatThread> thread,
                                     const std::function<void(CSendChatThread&)>& showWindow);
    // The window of thread is closing: it is counted off, its thread ended (a send under way
    // finishes first) and deleted, and its slot freed.
    void closeWriteWindow(CSendChatThread& thread);
    bool hasFreeWriteSlot() const;
    int chatWriteCount() const { return m_chatWriteCount; }
    std::array<CSendChatThread*, kMaxChatWriteWindows> chatWriteSlots() const;

    // Observers (main thread). An observer removes itself before it goes.
    void addObserver(ChatGroupObserver& observer);
    void removeObserver(ChatGroupObserver& observer);
    bool isObserver(const ChatGroupObserver& observer) const;
    void notifyRowsChanged(int g);
    void notifyMembersChanged(int g);
    void notifyAnnounceFailureChanged();

    // Back to the state before start-up: listeners and write threads still running are ended
    // (without leave notices), observers forgotten (tests).
    void clear();

private:
    void removeFromTable(int g);

    ReceiveHandler m_receiveHandler;
    // Lives on the main thread: send outcomes from listener threads come through it.
    std::unique_ptr<platform::MessageTarget> m_sendResults;
    std::optional<AnnounceFailure> m_announceFailure;
    std::array<std::unique_ptr<CNetMsgThread>, kMaxChatGroups> m_listeners;
    std::array<std::unique_ptr<CSendChatThread>, kMaxChatWriteWindows> m_writeSlots;
    int m_chatWriteCount = 0;
    std::vector<ChatGroupObserver*> m_observers;
};

} // namespace orvalink::chat
