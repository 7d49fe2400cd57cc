#pragma once

// The connection of a mail conversation: an asynchronous stream socket that hands its connect,
// read, write and close notifications to its MailConnection. It reads whatever has arrived, up to
// one buffer of 65,536 bytes per notification, and passes exactly those bytes on; it keeps nothing.

#include "platform/AsyncSocket.h"

#include <array>

namespace orvalink::mail {

class MailConnection;

class MailSocket : public platform::AsyncSocket {
    Q_OBJECT
public:
    static constexpr int kReceiveBufferSize = 65536;

    explicit MailSocket(MailConnection& connection);

protected:
    void onConnect(int err) override;
    void onReceive(int err) override;
    void onSend(int err) override;
    void onClose(int err) override;

private:
    MailConnection& m_connection;
    std::array<char, kReceiveBufferSize> m_buffer{};
};

} // namespace orvalink::mail
