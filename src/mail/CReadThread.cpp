#include "mail/CReadThread.h"

namespace orvalink::mail {

namespace {

// The thread's main window: it only has to exist, so that WM_QUIT ends the thread as it ends
// every other window thread of the program.
class ReadThreadWindow : public platform::MessageTarget {
public:
    std::intptr_t windowProc(platform::WindowMessage&) override { return 0; }
};

} // namespace

bool CReadThread::initInstance()
{
    setMainWindow(new ReadThreadWindow);
    return true;
}

} // namespace orvalink::mail
