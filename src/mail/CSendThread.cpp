#include "mail/CSendThread.h"

#include "mail/CSendWorker.h"

namespace orvalink::mail {

CSendWorker* CSendThread::worker() const
{
    return static_cast<CSendWorker*>(mainWindow());
}

bool CSendThread::initInstance()
{
    setMainWindow(new CSendWorker);
    return true;
}

} // namespace orvalink::mail
