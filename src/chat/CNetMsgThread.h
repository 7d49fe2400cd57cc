#pragma once

// The listener of one chat group: a user-interface thread whose main window is the group's hidden
// CNetMsgDlg. The thread performs the sends other threads ask for; the group's socket and its
// receive path belong to the main thread. The socket is owned here, on the main thread's side, and
// is deleted only after the listener thread has ended: a send of the thread can never be inside
// a socket being deleted.

#include "platform/UiThread.h"

#include <memory>

namespace orvalink::chat {

class CNetMsgDlg;
class CNetMsgSocket;

class CNetMsgThread : public platform::UiThread {
    Q_OBJECT
public:
    CNetMsgThread();
    // Ends the thread first, then deletes the socket.
    ~CNetMsgThread() override;

    CNetMsgDlg* window() const;
    int groupIndex() const { return m_group; }
    int port() const { return m_port; }

    // Main thread, once the thread is ready: records the group and its port, then opens the
    // group's socket and announces this instance.
    bool startListening(int group);
    // Main thread: the group moved to another index (a group before it was deleted). Datagrams
    // are matched to groups by port, so only the index changes.
    void setGroupIndex(int group);
    // Main thread, once the thread has ended: drains the socket and deletes it.
    void closeSocket();
    CNetMsgSocket* socket() const { return m_socket.get(); }

protected:
    bool initInstance() override;

private:
    int m_group = -1;
    int m_port = 0;
    std::unique_ptr<CNetMsgSocket> m_socket;
};

// Starts the listener of group g (thread, ready handshake, then the start operation on the main
// thread) and records it in the group table. Listeners start strictly one after another.
CNetMsgThread* startGroupListener(int group);

// Main thread. Ends the listener of group g: with sendLeave the leave notice goes out first (on the
// listener thread, waited for); the window is told to quit and the thread waited for without
// time-out; only then is the socket drained and deleted. The table's entry is emptied.
void stopGroupListener(int group, bool sendLeave);

} // namespace orvalink::chat
