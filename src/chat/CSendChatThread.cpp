#include "chat/CSendChatThread.h"

#include "chat/CSendChatWorker.h"
#include "chat/ChatGroupTable.h"

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

void CSendChatThread::groupRemoved(int group)
{
    for (CSendChatThread* t : chatGroupTable().chatWriteSlots) {
        if (!t)
            continue;
        const int g = t->groupIndex();
        if (g == group)
            t->setGroupIndex(-1);
        else if (g > group)
            t->setGroupIndex(g - 1);
    }
}

} // namespace orvalink::chat
