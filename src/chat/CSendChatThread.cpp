#include "chat/CSendChatThread.h"

#include "chat/CSendChatWorker.h"

CSendChatWorker* CSendChatThread::worker() const
{
    return static_cast<CSendChatWorker*>(mainWindow());
}

bool CSendChatThread::initInstance()
{
    setMainWindow(new CSendChatWorker);
    return true;
}
