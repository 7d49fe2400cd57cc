#include "chat/ChatGroupTable.h"

int ChatGroupTable::groupByPort(unsigned port) const
{
    const std::string text = std::to_string(port);
    for (int g = 0; g < groupCount; ++g)
        if (groups[static_cast<std::size_t>(g)].port == text)
            return g;
    return -1;
}

void ChatGroupTable::clear()
{
    for (auto& g : groups)
        g = ChatGroup{};
    groupCount = 0;
    chatWriteSlots.fill(nullptr);
    chatWriteCount = 0;
    treeReady = 0;
    currentGroup = 0;
    mainFrame = nullptr;
    treeView = nullptr;
}

ChatGroupTable& chatGroupTable()
{
    static ChatGroupTable table;
    return table;
}
