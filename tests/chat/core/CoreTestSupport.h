#pragma once

// Shared set-up of the chat core's tests (std only): groups of the test's own and the receiver's
// I/O with a hand-driven clock and timers.

#include "chat/core/ChatGroupObserver.h"
#include "chat/core/ChatGroups.h"
#include "chat/core/GroupReceiver.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace orvalink::chat {

inline void configureGroup(ChatGroups& t, int g, std::string port, std::string name, std::string displayName)
{
    auto& group = t.groups[static_cast<std::size_t>(g)];
    group.port = std::move(port);
    group.name = std::move(name);
    group.displayName = std::move(displayName);
    t.groupCount = std::max(t.groupCount, g + 1);
}

// The receiver's I/O with a hand-driven clock and timers: scheduled tasks run when the test moves
// the clock past them.
struct ScriptedIo : GroupReceiver::Io {
    std::vector<int> replies;
    std::vector<std::string> logs; // "label|text"
    std::vector<int> limitTold;
    std::int64_t now = 1000;
    std::multimap<std::int64_t, std::function<void()>> timers;

    void sendPresenceReply(int g) override { replies.push_back(g); }
    void log(int, std::string_view, std::string_view label, std::string_view text) override
    {
        logs.push_back(std::string(label) + "|" + std::string(text));
    }
    void memberLimitReached(int g, std::string_view) override { limitTold.push_back(g); }
    void schedule(int delayMs, std::function<void()> task) override { timers.emplace(now + delayMs, std::move(task)); }
    void advance(std::int64_t ms)
    {
        const std::int64_t until = now + ms;
        while (!timers.empty() && timers.begin()->first <= until) {
            now = timers.begin()->first;
            auto task = std::move(timers.begin()->second);
            timers.erase(timers.begin());
            task();
        }
        now = until;
    }
};

} // namespace orvalink::chat
