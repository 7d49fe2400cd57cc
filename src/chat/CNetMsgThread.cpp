#include "chat/CNetMsgThread.h"

#include "chat/CNetMsgDlg.h"
#include "chat/CNetMsgSocket_p.h"
#include "chat/ChatGroupTable.h"
#include "platform/Dispatch.h"
#include "platform/Messages.h"

namespace orvalink::chat {

using platform::WM_CHAT_SEND_OFF;
using platform::WM_QUIT;

CNetMsgThread::CNetMsgThread() = default;

CNetMsgThread::~CNetMsgThread()
{
    quitAndWait();
    closeSocket();
}

void CNetMsgThread::closeSocket()
{
    if (!m_socket)
        return;
    m_socket->setOwner(nullptr);
    m_socket->drain();
    m_socket.reset();
}

CNetMsgDlg* CNetMsgThread::window() const
{
    return static_cast<CNetMsgDlg*>(mainWindow());
}

bool CNetMsgThread::initInstance()
{
    setMainWindow(new CNetMsgDlg);
    return true;
}

bool CNetMsgThread::startListening(int group)
{
    m_port = portNumber(chatGroupTable().groups[static_cast<std::size_t>(group)].port);
    CNetMsgDlg* w = window();
    if (w && !m_socket)
        m_socket = std::make_unique<CNetMsgSocket>(w);
    const bool ok = w && w->openSocket(group, *m_socket);
    m_group = group;
    return ok;
}

void CNetMsgThread::setGroupIndex(int group)
{
    m_group = group;
    if (CNetMsgDlg* w = window())
        w->setGroupIndex(group);
}

CNetMsgThread* startGroupListener(int group)
{
    auto* thread = new CNetMsgThread;
    chatGroupTable().groups[static_cast<std::size_t>(group)].listener = thread;
    if (!thread->startAndWaitReady())
        return thread;
    thread->startListening(group);
    return thread;
}

void stopGroupListener(int group, bool sendLeave)
{
    ChatGroup& g = chatGroupTable().groups[static_cast<std::size_t>(group)];
    CNetMsgThread* thread = g.listener;
    if (!thread)
        return;
    if (CNetMsgDlg* w = thread->window()) {
        if (sendLeave)
            platform::sendMessage(w, {WM_CHAT_SEND_OFF, {}, {}});
        // Nothing received from here on is handed to the window, which is about to go.
        if (CNetMsgSocket* s = thread->socket())
            s->setOwner(nullptr);
        platform::sendMessage(w, {WM_QUIT, {}, {}});
    }
    // The listener thread ends first: chat write windows may still be asking it to send.
    thread->quitAndWait();
    thread->closeSocket();
    delete thread;
    g.listener = nullptr;
}

} // namespace orvalink::chat
