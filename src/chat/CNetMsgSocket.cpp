#include "chat/CNetMsgSocket.h"

#include <array>
#include <cstring>

#include "chat/CNetMsgDlg.h"

namespace {

// One receive buffer for every group socket of the process; receive notifications all run on
// the main thread, so it needs no lock.
std::array<char, chatwire::kReceiveBufferSize> g_receiveBuffer;

} // namespace

CNetMsgSocket::CNetMsgSocket(CNetMsgDlg* owner, QObject* parent) : platform::AsyncSocket(parent), m_owner(owner) {}

void CNetMsgSocket::onReceive(int error)
{
    (void)error;
    std::memset(g_receiveBuffer.data(), 0, g_receiveBuffer.size());
    std::string address;
    unsigned port = 0;
    const int n = receiveFrom(g_receiveBuffer.data(), static_cast<int>(g_receiveBuffer.size()), address, port);
    if (n <= 0)
        return;
    const auto text = m_assembly.feed(std::string_view(g_receiveBuffer.data(), static_cast<std::size_t>(n)), address, port);
    if (text && m_owner)
        m_owner->receiveHandler(*text, address, port);
}

void CNetMsgSocket::drain()
{
    char scratch[1024];
    std::string address;
    unsigned port = 0;
    while (isOpen() && receiveFrom(scratch, sizeof scratch, address, port) > 0) {
    }
    m_assembly.reset();
}
