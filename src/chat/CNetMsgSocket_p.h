#pragma once

// A group's UDP socket. Created on the main thread, so every receive notification runs there; the
// listener thread sends on it too (sendTo may be called from any thread). Datagrams are reassembled
// and each complete text is handed to the owning window's receive handler with the sender's
// address and port.

#include "chat/wire/DatagramAssembler.h"
#include "platform/AsyncSocket.h"

#include <cstdint>
#include <functional>
#include <string>

namespace orvalink::chat {

class CNetMsgDlg;

class CNetMsgSocket : public platform::AsyncSocket {
    Q_OBJECT
public:
    // A read notification takes what is waiting, up to this many datagrams or this much time;
    // whatever is left comes with the next notification, after the GUI had its turn.
    static constexpr int kMaxDatagramsPerWakeup = 256;
    static constexpr int kMaxMsPerWakeup = 8;
    // The kernel buffer asked for each group socket: a burst of a few thousand small datagrams,
    // or several dozen of the largest, waits there instead of being dropped.
    static constexpr int kReceiveBufferBytes = 4 << 20;

    explicit CNetMsgSocket(CNetMsgDlg* owner, QObject* parent = nullptr);

    void setOwner(CNetMsgDlg* owner) { m_owner = owner; }
    // Reads and throws away whatever is waiting, until a receive returns nothing or an error.
    void drain();
    const chat::DatagramAssembler& assembly() const { return m_assembly; }
    // The clock (milliseconds) that measures a wake-up's share of time; empty: the steady clock.
    // Tests put one of their own here, so that the per-wake-up bounds are seen without timing.
    void setWakeupClock(std::function<std::int64_t()> nowMs) { m_wakeupClock = std::move(nowMs); }
    // Read notifications taken so far (each one a wake-up of the main thread).
    int wakeups() const { return m_wakeups; }

protected:
    void onReceive(int error) override;

private:
    CNetMsgDlg* m_owner;
    chat::DatagramAssembler m_assembly;
    std::function<std::int64_t()> m_wakeupClock;
    int m_wakeups = 0;
};

} // namespace orvalink::chat
