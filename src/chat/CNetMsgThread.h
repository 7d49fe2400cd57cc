#pragma once

// The listener of one chat group: a user-interface thread whose main window is the group's hidden
// CNetMsgDlg. The thread performs the sends other threads ask for; the group's socket and its
// receive path belong to the main thread.

#include "platform/UiThread.h"

class CNetMsgDlg;

class CNetMsgThread : public platform::UiThread {
    Q_OBJECT
public:
    CNetMsgThread() = default;

    CNetMsgDlg* window() const;
    int groupIndex() const { return m_group; }
    int port() const { return m_port; }

    // Main thread, once the thread is ready: records the group and its port, then opens the
    // group's socket and announces this instance.
    bool startListening(int group);
    // Main thread: the group moved to another index (a group before it was deleted). Datagrams
    // are matched to groups by port, so only the index changes.
    void setGroupIndex(int group);

protected:
    bool initInstance() override;

private:
    int m_group = -1;
    int m_port = 0;
};

// Starts the listener of group g (thread, ready handshake, then the start operation on the main
// thread) and records it in the group table. Listeners start strictly one after another.
CNetMsgThread* startGroupListener(int group);

// Main thread. Ends the listener of group g: with sendLeave the leave notice goes out first (on the
// listener thread, waited for); the socket is drained and deleted, the window told to quit and
// the thread waited for without time-out. The table's entry is emptied.
void stopGroupListener(int group, bool sendLeave);
