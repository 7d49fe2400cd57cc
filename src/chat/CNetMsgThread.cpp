#include "chat/CNetMsgThread.h"

#include "chat/ChatGroupTable.h"
#include "chat/CNetMsgDlg.h"
#include "platform/Dispatch.h"
#include "platform/Messages.h"

CNetMsgDlg* CNetMsgThread::window() const { return static_cast<CNetMsgDlg*>(mainWindow()); }

bool CNetMsgThread::initInstance()
{
    setMainWindow(new CNetMsgDlg);
    return true;
}

bool CNetMsgThread::startListening(int group)
{
    m_port = portNumber(chatGroupTable().groups[static_cast<std::size_t>(group)].port);
    CNetMsgDlg* w = window();
    const bool ok = w && w->openSocket(group);
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
        w->drainAndDeleteSocket();
        platform::sendMessage(w, {WM_QUIT, {}, {}});
    }
    thread->quitAndWait();
    delete thread;
    g.listener = nullptr;
}
