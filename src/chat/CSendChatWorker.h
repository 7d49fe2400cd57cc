#pragma once

// The main window of a chat write thread in the message sense: it lives on that thread and carries
// the window's text to the group's listener there, so the GUI never waits for a send.

#include "platform/MessageTarget.h"

#include <QPointer>
#include <functional>

namespace orvalink::chat {

using platform::WM_USER;

class CNetMsgDlg;

// Asks the worker to send: wParam = the text (CR LF line ends), lParam = the recipient's dotted
// address or the empty text for the whole group.
inline constexpr unsigned WM_CHAT_WRITE_SEND = WM_USER + 210;

class CSendChatWorker : public platform::MessageTarget {
    Q_OBJECT
public:
    // Where the send goes: the group's listener window, looked up on the GUI thread just before
    // the request is posted (the group table belongs to the GUI thread). A listener that has gone
    // since makes the send fail as kListenerGone (the dispatcher only looks the pointer up).
    void setListener(CNetMsgDlg* listener) { m_listener.store(listener); }
    // What a send came to, as the GUI thread is told: 0 when the datagram went out, kListenerGone
    // when the group's listener was gone, else the Windows Sockets error of the failed send.
    static constexpr int kListenerGone = -1;
    // Runs on the GUI thread once the listener has tried the send.
    void setOnSent(std::function<void(int)> done) { m_onSent = std::move(done); }

    std::intptr_t windowProc(platform::WindowMessage& msg) override;

private:
    std::atomic<CNetMsgDlg*> m_listener{nullptr};
    std::function<void(int)> m_onSent;
};

} // namespace orvalink::chat
