#include "mail/MailConnection.h"
#include "mail/MailSocket_p.h"

#include <string_view>

namespace orvalink::mail {

MailSocket::MailSocket(MailConnection& connection) : m_connection(connection) {}

void MailSocket::onConnect(int err)
{
    m_connection.socketConnected(err);
}

void MailSocket::onReceive(int)
{
    const int n = receive(m_buffer.data(), kReceiveBufferSize);
    // Nothing read (would block, or the connection broke: its close notification follows).
    if (n > 0)
        m_connection.socketReceived(std::string_view(m_buffer.data(), static_cast<std::size_t>(n)));
}

void MailSocket::onSend(int)
{
    m_connection.socketWritable();
}

void MailSocket::onClose(int)
{
    m_connection.socketClosed();
}

} // namespace orvalink::mail
