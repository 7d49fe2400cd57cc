#include "chat/ChatGroupTable.h"

#include "chat/wire/ChatDatagram.h"

int ChatGroupTable::groupByPort(unsigned port) const
{
    // A group listens on the port its text reads as ("12122abc" on 12122), so it is found by that
    // number: comparing texts would leave such a group deaf to everything it receives.
    for (int g = 0; g < groupCount; ++g) {
        const int number = chatwire::portNumber(groups[static_cast<std::size_t>(g)].port);
        if (number != 0 && static_cast<unsigned>(number) == port)
            return g;
    }
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
