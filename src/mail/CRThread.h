#pragma once

// The receive thread: there is at most one, and it lives exactly as long as the receive window.
// Its main window is the ReceiveWorker, which holds the connection, the POP3 conversation and the
// filing of every message; the window's widgets live on the GUI thread (ReceiveDialog), which
// owns the thread and ends it when it is destroyed.

#include "platform/UiThread.h"

namespace orvalink::mail {

class ReceiveWorker;

class CRThread : public platform::UiThread {
    Q_OBJECT
public:
    CRThread() = default;

    ReceiveWorker* worker() const;

protected:
    bool initInstance() override;
};

} // namespace orvalink::mail
