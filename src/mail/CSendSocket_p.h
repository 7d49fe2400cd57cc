#pragma once

// The connection of one SMTP conversation: an asynchronous stream socket that hands each of its
// notifications to the compose window's worker on the compose thread. It only moves bytes.

#include "platform/AsyncSocket.h"

namespace orvalink::mail {

class CSendWorker;

class CSendSocket : public platform::AsyncSocket {
    Q_OBJECT
public:
    explicit CSendSocket(CSendWorker* owner) : m_owner(owner) {}

protected:
    void onReceive(int err) override;
    void onSend(int err) override;
    void onConnect(int err) override;
    void onClose(int err) override;

private:
    CSendWorker* m_owner;
};

} // namespace orvalink::mail
