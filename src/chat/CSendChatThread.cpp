#include "chat/CSendChatThread.h"

#include "chat/CSendChatWorker.h"

namespace orvalink::chat {

CSendChatWorker* CSendChatThread::worker() const
{
    return static_cast<CSendChatWorker*>(mainWindow());
}

bool CSendChatThread::initInstance()
{
    setMainWindow(new CSendChatWorker);
    return true;
}

} // namespace orvalink::chat
