#include "mail/CSendRecvThread.h"

namespace orvalink::mail {

namespace {

// The thread's main window in the message sense: it only gives the thread its life.
class SendRecvTarget : public platform::MessageTarget {
public:
    std::intptr_t windowProc(platform::WindowMessage&) override { return 0; }
};

} // namespace

bool CSendRecvThread::initInstance()
{
    setMainWindow(new SendRecvTarget);
    return true;
}

} // namespace orvalink::mail
