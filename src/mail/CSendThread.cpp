#include "mail/CSendThread.h"

#include "mail/CSendWorker.h"
#include "mail/MailState.h"
#include "mail/SendSettings.h"

namespace orvalink::mail {

CSendWorker* CSendThread::worker() const
{
    return static_cast<CSendWorker*>(mainWindow());
}

bool CSendThread::initInstance()
{
    setMainWindow(new CSendWorker(m_side.sendSettings()));
    return true;
}

} // namespace orvalink::mail
