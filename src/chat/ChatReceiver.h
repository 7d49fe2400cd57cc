#pragma once

// The chat core's receiver over the Qt side: the rules are GroupReceiver's; this adds the listeners'
// own I/O (the presence replies the core builds go out on group g's socket) and the Qt defaults for
// the user's notice and the timers. Received items are logged by the core into the group's log.

#include "chat/ChatGroupTable.h"
#include "chat/core/GroupReceiver.h"

#include <functional>
#include <memory>
#include <string_view>

namespace orvalink::chat {

class ChatReceiver : public GroupReceiver {
public:
    // The receiver's I/O with the Qt defaults: a member list that is full is told in a message box
    // posted after the receive path has returned, and tasks run on a timer of the main thread.
    class GroupIo : public GroupReceiver::Io {
    public:
        void memberLimitReached(int group, std::string_view groupName) override;
        void schedule(int delayMs, std::function<void()> task) override;
    };

    // The handler of the groups of table.
    ChatReceiver(GroupIo& io, ChatGroupTable& table) : GroupReceiver(io, table) {}

    // The listeners' own I/O: presence replies go out through the hidden window of group g's
    // listener in table.
    static std::unique_ptr<GroupIo> makeListenerIo(ChatGroupTable& table);
};

} // namespace orvalink::chat
