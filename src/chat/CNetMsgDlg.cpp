#include "chat/CNetMsgDlg.h"

#include "chat/CNetMsgSocket_p.h"
#include "chat/ChatGroupTable.h"
#include "chat/core/GroupReceiver.h"
#include "chat/wire/ChatDatagram.h"
#include "platform/MessageBox.h"
#include "platform/Messages.h"

#include <utility>

namespace orvalink::chat {

using platform::WM_CHAT_SEND_GROUP;
using platform::WM_CHAT_SEND_OFF;
using platform::WM_CHAT_SEND_PERSONAL;
using platform::WM_CLOSE;
using platform::WM_QUIT;

namespace {

constexpr const char* kBroadcastAddress = "255.255.255.255";
constexpr int kDontRoute = 4;

// What a send request returns: kChatSent or the error.
std::intptr_t sendResult(int error)
{
    return error == 0 ? kChatSent : error;
}

} // namespace

CNetMsgDlg::CNetMsgDlg() = default;

CNetMsgDlg::~CNetMsgDlg() = default;

bool CNetMsgDlg::openSocket(int group, const ChatGroup& g, CNetMsgSocket& socket)
{
    m_group = group;
    m_groupName = g.name;
    m_displayName = g.displayName;
    m_port = portNumber(g.port);

    m_socket = &socket;
    m_socket->setOwner(this);
    // A port text that names no port (empty, 0, above 65535) would otherwise bind an arbitrary
    // port and look like success.
    if (m_port == 0 || !m_socket->create(platform::AsyncSocket::Type::Datagram, static_cast<std::uint16_t>(m_port))) {
        platform::messageBox("Socket creation failed");
        return false;
    }
    m_socket->setBroadcast(true);
    m_socket->setReceiveBufferSize(CNetMsgSocket::kReceiveBufferBytes);
    sendDatagram(chat::buildPresence(m_displayName), kBroadcastAddress, true);
    sendDatagram(chat::buildJoin(m_displayName), kBroadcastAddress, true);
    return true;
}

void CNetMsgDlg::sendAnnouncement(const std::string& datagram)
{
    sendDatagram(datagram, kBroadcastAddress, true);
}

int CNetMsgDlg::sendDatagram(const std::string& datagram, const std::string& address, bool announcement)
{
    int error = platform::WSAENOTSOCK;
    if (m_socket && m_socket->isOpen()) {
        const int sent = m_socket->sendTo(datagram.data(), static_cast<int>(datagram.size()),
                                          static_cast<std::uint16_t>(m_port), address, kDontRoute);
        error = sent == platform::AsyncSocket::SocketError ? platform::AsyncSocket::lastError() : 0;
        // A datagram sent in part is not a message sent.
        if (sent >= 0 && sent != static_cast<int>(datagram.size()))
            error = platform::WSAEMSGSIZE;
    }
    if (m_sendReport)
        m_sendReport(m_group.load(), announcement, error);
    return error;
}

void CNetMsgDlg::setReceiveClock(std::function<std::int64_t()> nowMs)
{
    if (m_socket)
        m_socket->setWakeupClock(std::move(nowMs));
}

int CNetMsgDlg::receiveWakeups() const
{
    return m_socket ? m_socket->wakeups() : 0;
}

void CNetMsgDlg::receiveHandler(std::string_view text, const std::string& address, unsigned port)
{
    if (m_receiver)
        m_receiver->handle(groupIndex(), text, address, port);
}

std::intptr_t CNetMsgDlg::windowProc(platform::WindowMessage& msg)
{
    switch (msg.id) {
    case WM_CLOSE:
    case WM_QUIT:
        destroyWindow();
        return 0;
    case WM_CHAT_SEND_GROUP: {
        // The text is ours now; it goes when this handler ends.
        const std::string text = platform::takeParamText(msg.wParam);
        if (m_log)
            m_log->log(m_groupName, "To: " + m_displayName, text);
        return sendResult(sendDatagram(chat::buildGroupMessage(m_displayName, text), kBroadcastAddress));
    }
    case WM_CHAT_SEND_PERSONAL: {
        const std::string text = platform::takeParamText(msg.wParam);
        const std::string* to = std::get_if<std::string>(&msg.lParam);
        // Only a dotted IPv4 address can be a recipient; anything else is not sent.
        if (!to || !chat::isDottedIPv4(*to))
            return platform::WSAEDESTADDRREQ;
        if (m_log)
            m_log->log(m_groupName, "To: " + m_displayName, text);
        return sendResult(sendDatagram(chat::buildPersonalMessage(m_displayName, text), *to));
    }
    case WM_CHAT_SEND_OFF:
        sendDatagram(chat::buildLeave(m_displayName), kBroadcastAddress);
        return 0;
    default:
        return 0;
    }
}

} // namespace orvalink::chat
