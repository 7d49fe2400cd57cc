#include "chat/CSendChatWorker.h"

#include "chat/CNetMsgDlg.h"
#include "platform/Dispatch.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace orvalink::chat {

using platform::WM_CHAT_SEND_GROUP;
using platform::WM_CHAT_SEND_PERSONAL;

std::intptr_t CSendChatWorker::windowProc(platform::WindowMessage& msg)
{
    if (msg.id != WM_CHAT_WRITE_SEND)
        return 0;
    std::string text = platform::takeParamText(msg.wParam);
    const std::string recipient = platform::takeParamText(msg.lParam);
    // Blocks until the listener thread has logged and sent the datagram.
    std::intptr_t result = 0;
    if (CNetMsgDlg* listener = m_listener.load()) {
        if (recipient.empty())
            result = platform::sendMessage(listener, {WM_CHAT_SEND_GROUP, std::move(text), {}});
        else
            result = platform::sendMessage(listener, {WM_CHAT_SEND_PERSONAL, std::move(text), recipient});
    }
    const int outcome = result == kChatSent ? 0 : result == 0 ? kListenerGone : static_cast<int>(result);
    if (m_onSent)
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [done = m_onSent, outcome] { done(outcome); }, Qt::QueuedConnection);
    return 0;
}

} // namespace orvalink::chat
