#include "mail/CSendThread.h"

#include "mail/CSendWorker.h"

CSendWorker* CSendThread::worker() const
{
    return static_cast<CSendWorker*>(mainWindow());
}

bool CSendThread::initInstance()
{
    setMainWindow(new CSendWorker);
    return true;
}
