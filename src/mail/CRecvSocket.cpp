#include "mail/CRecvSocket_p.h"
#include "mail/ReceiveWorker.h"

#include <string_view>

namespace orvalink::mail {

CRecvSocket::CRecvSocket(ReceiveWorker& worker) : m_worker(worker) {}

void CRecvSocket::onConnect(int err)
{
    m_worker.connected(err);
}

void CRecvSocket::onReceive(int)
{
    const int n = receive(m_buffer.data(), kReceiveBufferSize);
    // Nothing read (would block, or the connection broke: its close notification follows).
    if (n > 0)
        m_worker.received(std::string_view(m_buffer.data(), static_cast<std::size_t>(n)));
}

void CRecvSocket::onSend(int)
{
    m_worker.writable();
}

void CRecvSocket::onClose(int)
{
    m_worker.closed();
}

} // namespace orvalink::mail
