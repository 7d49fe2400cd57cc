#include "chat/CNetMsgThread.h"

#include "chat/CNetMsgDlg.h"
#include "chat/CNetMsgSocket_p.h"
#include "chat/ChatGroupTable.h"
#include "platform/Dispatch.h"
#include "platform/Messages.h"

namespace orvalink::chat {

CNetMsgThread::CNetMsgThread() = default;

bool CNetMsgThread::socketOpen() const
{
    return m_socket && m_socket->isOpen();
}

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

bool CNetMsgThread::startListening(int group, const ChatGroup& data)
{
    m_port = portNumber(data.port);
    CNetMsgDlg* w = window();
    if (w && !m_socket)
        m_socket = std::make_unique<CNetMsgSocket>(w);
    const bool ok = w && w->openSocket(group, data, *m_socket);
    m_group = group;
    return ok;
}

void CNetMsgThread::setGroupIndex(int group)
{
    m_group = group;
    if (CNetMsgDlg* w = window())
        w->setGroupIndex(group);
}

} // namespace orvalink::chat
