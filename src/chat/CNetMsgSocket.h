#pragma once

// A group's UDP socket. Created on the main thread, so every receive notification runs there; the
// listener thread sends on it too (sendTo may be called from any thread). Datagrams are reassembled
// and each complete text is handed to the owning window's receive handler with the sender's
// address and port.

#include <string>

#include "chat/wire/DatagramAssembler.h"
#include "platform/AsyncSocket.h"

class CNetMsgDlg;

class CNetMsgSocket : public platform::AsyncSocket {
    Q_OBJECT
public:
    explicit CNetMsgSocket(CNetMsgDlg* owner, QObject* parent = nullptr);

    void setOwner(CNetMsgDlg* owner) { m_owner = owner; }
    // Reads and throws away whatever is waiting, until a receive returns nothing or an error.
    void drain();
    const chatwire::DatagramAssembler& assembly() const { return m_assembly; }

protected:
    void onReceive(int error) override;

private:
    CNetMsgDlg* m_owner;
    chatwire::DatagramAssembler m_assembly;
};
