#include "chat/CNetMsgDlg.h"
#include "chat/CNetMsgSocket_p.h"

#include <QElapsedTimer>
#include <QPointer>
#include <array>
#include <cstring>

namespace orvalink::chat {

namespace {

// One receive buffer for every group socket of the process; receive notifications all run on
// the main thread, so it needs no lock.
std::array<char, chat::kReceiveBufferSize> g_receiveBuffer;

} // namespace

CNetMsgSocket::CNetMsgSocket(CNetMsgDlg* owner, QObject* parent) : platform::AsyncSocket(parent), m_owner(owner) {}

void CNetMsgSocket::onReceive(int error)
{
    (void)error;
    // One notification drains what is waiting (bounded), so a burst costs one wake-up instead of
    // one per datagram; the handler never deletes this socket, but a guard costs nothing.
    QPointer<CNetMsgSocket> self(this);
    ++m_wakeups;
    QElapsedTimer spent;
    spent.start();
    const std::int64_t startMs = m_wakeupClock ? m_wakeupClock() : 0;
    const auto elapsedMs = [&] { return m_wakeupClock ? m_wakeupClock() - startMs : spent.elapsed(); };
    for (int i = 0;; ++i) {
        if (!self || !isOpen())
            return;
        if (i == kMaxDatagramsPerWakeup || (i > 0 && elapsedMs() >= kMaxMsPerWakeup)) {
            // More may be waiting: the GUI's timers (its heartbeat, the coalesced refresh) go first.
            deferNextReadNotification(1);
            return;
        }
        std::memset(g_receiveBuffer.data(), 0, g_receiveBuffer.size());
        std::string address;
        unsigned port = 0;
        const int n = receiveFrom(g_receiveBuffer.data(), static_cast<int>(g_receiveBuffer.size()), address, port);
        if (n <= 0) {
            if (n < 0 && lastError() == platform::WSAEWOULDBLOCK) {
                // Nothing more waiting. After a busy wake-up more is likely on its way: the timers
                // still go first.
                if (i > 1)
                    deferNextReadNotification(1);
                return;
            }
            continue; // an empty or failed datagram: nothing to hand on
        }
        const auto text =
            m_assembly.feed(std::string_view(g_receiveBuffer.data(), static_cast<std::size_t>(n)), address, port);
        if (text && m_owner)
            m_owner->receiveHandler(*text, address, port);
    }
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

} // namespace orvalink::chat
