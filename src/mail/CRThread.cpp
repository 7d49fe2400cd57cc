#include "mail/CRThread.h"

#include "mail/ReceiveWorker.h"

namespace orvalink::mail {

ReceiveWorker* CRThread::worker() const
{
    return static_cast<ReceiveWorker*>(mainWindow());
}

bool CRThread::initInstance()
{
    setMainWindow(new ReceiveWorker);
    return true;
}

} // namespace orvalink::mail
