#include "mail/CRThread.h"

#include "mail/ReceiveWorker.h"

ReceiveWorker* CRThread::worker() const
{
    return static_cast<ReceiveWorker*>(mainWindow());
}

bool CRThread::initInstance()
{
    setMainWindow(new ReceiveWorker);
    return true;
}
