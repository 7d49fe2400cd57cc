#pragma once

// The hidden window of a group's listener. It lives on the listener thread and is the group's
// mailbox for outgoing traffic: WM_CHAT_SEND_GROUP, WM_CHAT_SEND_PERSONAL and WM_CHAT_SEND_OFF are
// sent to it by other threads and go out on the group's socket from here. The socket belongs to the
// listener (CNetMsgThread) on the main thread, where it is created, so received datagrams are
// handled on the main thread; it outlives this window and its thread, so no send of this window
// can ever meet a deleted socket.

#include "chat/ChatGroupTable.h"
#include "chat/core/ChatLog.h"
#include "chat/wire/ChatDatagram.h"
#include "platform/MessageTarget.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace orvalink::chat {

class CNetMsgSocket;
class ReceivedTextSink;

// What WM_CHAT_SEND_GROUP and WM_CHAT_SEND_PERSONAL return: kChatSent once the datagram went out,
// else the Windows Sockets error number of the failed send. A sender gets 0 only when the window
// was gone before it could send.
inline constexpr std::intptr_t kChatSent = 1;

// Told after every send of a listener, on the thread that sent: (group index, whether the datagram
// was this instance's presence announcement or join notice, 0 or the Windows Sockets error).
using SendReport = std::function<void(int, bool, int)>;

class CNetMsgDlg : public platform::MessageTarget {
    Q_OBJECT
public:
    CNetMsgDlg();
    ~CNetMsgDlg() override;

    std::intptr_t windowProc(platform::WindowMessage& msg) override;

    // Main thread: creates and binds the group's socket on its port, enables broadcasting and
    // announces this instance (presence announcement, then join notice). Shows "Socket creation
    // failed" and returns false when the socket cannot be made; the group then stays silent.
    // socket is the listener's and must outlive this window. The group's port and names are
    // copied from data.
    bool openSocket(int group, const ChatGroup& data, CNetMsgSocket& socket);
    // Main thread: broadcasts datagram, an announcement of this instance the chat core built (the
    // presence reply to newcomers); its outcome is reported as an announcement's.
    void sendAnnouncement(const std::string& datagram);

    // Main thread: where the texts this window's socket assembles go, with this window's group
    // (the table that made the listener hands it over); without one they are dropped.
    void setReceiver(ReceivedTextSink* receiver) { m_receiver = receiver; }
    // Before the socket opens: who learns how each send went (the table that made the listener).
    void setSendReport(SendReport report) { m_sendReport = std::move(report); }
    // Before the socket opens: the group's chat log, owned by the group's entry in the table, which
    // keeps it until this window's thread has ended. The sent items are logged into it on the
    // listener thread; without one they are not logged.
    void setChatLog(ChatLog* log) { m_log = log; }
    // Main thread: one assembled text, handed to the receiver for this window's group.
    void receiveHandler(std::string_view text, const std::string& address, unsigned port);

    int groupIndex() const { return m_group.load(); }
    void setGroupIndex(int group) { m_group = group; }
    int port() const { return m_port; }
    CNetMsgSocket* socket() const { return m_socket; }
    // Main thread, for tests of the per-wake-up bounds of receiving: the socket's clock
    // (milliseconds; empty: the steady clock) and how many read notifications it has taken.
    void setReceiveClock(std::function<std::int64_t()> nowMs);
    int receiveWakeups() const;

private:
    // Sends one datagram to address on the group's port with MSG_DONTROUTE and tells the send
    // report how it went. 0, or the Windows Sockets error of a send that failed.
    int sendDatagram(const std::string& datagram, const std::string& address, bool announcement = false);

    CNetMsgSocket* m_socket = nullptr;      // the listener's; set on the main thread before any send
    ReceivedTextSink* m_receiver = nullptr; // main thread only
    SendReport m_sendReport;                // set before the socket opens, read by every sending thread
    std::atomic<int> m_group{-1};
    int m_port = 0;
    // Copies taken when the socket opens: a renamed group or display name applies at next start.
    std::string m_groupName;
    std::string m_displayName;
    ChatLog* m_log = nullptr; // the group's; set before the socket opens
};

} // namespace orvalink::chat
