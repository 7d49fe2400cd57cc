#pragma once

// The chat state the whole program shares: up to 100 groups, each with its port, names, listener,
// members and rows, and the 100 chat write window slots. The application object owns it for the
// life of the process and hands it to those who need it. It is written on the main thread only
// (start-up, the receive path, the tree, the port settings); listener threads keep their own copies
// of what they need to send, so they never read it. The one thing they share is their group's chat
// log, which the group owns and hands to its listener by reference (ChatLog takes its own lock).

#include "chat/core/ChatGroups.h"

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace orvalink::platform {
class MessageTarget;
class Profile;
} // namespace orvalink::platform

namespace orvalink::chat {

class CNetMsgDlg;
class CNetMsgThread;
class CSendChatThread;
class ReceivedTextSink;

// A presence announcement or join notice of this instance that could not be sent: the user is told
// until a later send succeeds.
struct AnnounceFailure {
    std::string groupName;
    int error = 0; // Windows Sockets error number
};

// The Qt side of the groups: their state and rules are the chat core's (ChatGroups); this adds
// the listeners, the write window slots and the store.
class ChatGroupTable : public ChatGroups {
public:
    ChatGroupTable();
    // Ends what is still running without leave notices (clear()).
    ~ChatGroupTable();
    ChatGroupTable(const ChatGroupTable&) = delete;
    ChatGroupTable& operator=(const ChatGroupTable&) = delete;

    // The group rules are the core's (ChatGroups::loadGroups, addGroup, removeGroup); the store is
    // the settings store (ProfileGroupStore).
    // Start-up, before any listener runs: the stored groups ("User PortCnt", then "User Port<n>",
    // "User PortName<n>" and "User Name<n>" for n from 1) become groups 0 .. count-1 with their texts
    // as stored; a missing key reads as empty. A count above 100 loads the first 100, one below 0
    // none.
    void load(platform::Profile& store);
    // A new group: stored as group groupCount+1 ("User PortCnt" first, then its port, group name and
    // display name), appended to the table with the texts as given (a name changed earlier stays
    // stored for the next start), shown to the observers, and its listener started. Returns its
    // index, or -1 when the table is full (nothing is stored then).
    int registerGroup(const std::string& port, const std::string& name, const std::string& displayName,
                      platform::Profile& store);
    // Deletes group g: its listener ends (no leave notice), the stored groups after it move down by
    // one (pending name changes with them; the keys of the former last group stay beyond the
    // count), and so do the table's entries, their listeners (told their new index) and the open
    // write windows. Then the observers are told (the group that a window shows may be another
    // one now).
    void deleteGroup(int g, platform::Profile& store);

    // Listeners. startListener starts group g's thread, waits until it is ready, then opens the
    // group's socket and announces this instance; listeners start strictly one after another.
    // stopListener ends it: with sendLeave the leave notice goes out first (on the listener thread,
    // waited for); the window is told to quit and the thread waited for without time-out; only
    // then is the socket drained and deleted.
    CNetMsgThread* startListener(int g);
    void stopListener(int g, bool sendLeave);
    CNetMsgThread* listener(int g) const;
    // Where the texts the listeners of this table receive go (main thread; null: nowhere). Every
    // listener window is told when it is made, before its socket opens; setting it again (or to
    // null) reaches the windows already running as well. Another table's listeners never see it.
    // The caller keeps the sink alive while it is set.
    void setReceiver(ReceivedTextSink* receiver);
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

    // Back to the state before start-up: listeners and write threads still running are ended
    // (without leave notices), observers forgotten (tests).
    void clear();

private:
    void removeFromTable(int g, ChatGroupStore& store);

    ReceivedTextSink* m_receiver = nullptr;
    // Lives on the main thread: send outcomes from listener threads come through it.
    std::unique_ptr<platform::MessageTarget> m_sendResults;
    std::optional<AnnounceFailure> m_announceFailure;
    std::array<std::unique_ptr<CNetMsgThread>, kMaxChatGroups> m_listeners;
    std::array<std::unique_ptr<CSendChatThread>, kMaxChatWriteWindows> m_writeSlots;
    int m_chatWriteCount = 0;
};

} // namespace orvalink::chat
