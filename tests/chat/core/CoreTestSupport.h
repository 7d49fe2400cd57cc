#pragma once

// Shared set-up of the chat core's tests (std only): groups of the test's own, the receiver's I/O
// with a hand-driven clock and timers, and chat logs in a scratch folder.

#include "chat/core/ChatGroupObserver.h"
#include "chat/core/ChatGroups.h"
#include "chat/core/ChatLog.h"
#include "chat/core/GroupReceiver.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <utility>
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

// A stand-in for the program's receiver: each text a listener hands on goes to the test's function
// f (group, text, sender address, sender port); without one it is dropped.
struct TextSink : ReceivedTextSink {
    std::function<void(int, std::string_view, const std::string&, unsigned)> f;

    TextSink() = default;
    explicit TextSink(decltype(f) function) : f(std::move(function)) {}
    void handle(int group, std::string_view text, const std::string& address, unsigned port) override
    {
        if (f)
            f(group, text, address, port);
    }
};

// The receiver's I/O with a hand-driven clock and timers: scheduled tasks run when the test moves
// the clock past them.
struct ScriptedIo : GroupReceiver::Io {
    std::vector<int> replies;
    std::vector<std::string> replyDatagrams;
    std::vector<int> limitTold;
    std::int64_t now = 1000;
    std::multimap<std::int64_t, std::function<void()>> timers;

    void sendPresenceReply(int g, const std::string& datagram) override
    {
        replies.push_back(g);
        replyDatagrams.push_back(datagram);
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

// Logging on, into a folder of its own under the system's temporary folder (removed with it). The
// groups' logs are dated kDay, so that a record's bytes are known in advance.
struct ScratchLogs : ChatLogEnvironment {
    static constexpr std::time_t kDay = 1765000000;

    ScratchLogs()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "orvalink-chatcore-XXXXXX").string();
        if (!::mkdtemp(tmpl.data()))
            std::abort();
        folder = tmpl;
    }
    ~ScratchLogs() override { std::filesystem::remove_all(folder); }
    ScratchLogs(const ScratchLogs&) = delete;
    ScratchLogs& operator=(const ScratchLogs&) = delete;

    bool loggingOn() const override { return true; }
    std::string logFolder() const override { return folder; }
    void tellUser(std::string) const override { std::abort(); } // the scratch folder always takes records

    // Groups 0 .. groupCount-1 of groups log here, dated kDay.
    void attach(ChatGroups& groups) const
    {
        groups.setLogEnvironment(this);
        for (int g = 0; g < groups.groupCount; ++g)
            groups.chatLog(g)->setClock([] { return kDay; });
    }
    // What the log of the group named groupName holds.
    std::string read(std::string_view groupName) const
    {
        std::ifstream in(ChatLog::fileName(folder, groupName, kDay), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // One record as the log writes it.
    static std::string record(std::string_view label, std::string_view text)
    {
        return std::string(label) + ChatLog::timeText(kDay) + "\r\n" + std::string(text) + "\r\n";
    }
    // How many records a log holds.
    static std::size_t count(std::string_view content)
    {
        const std::string mark = ChatLog::timeText(kDay) + "\r\n";
        std::size_t n = 0;
        for (std::size_t at = content.find(mark); at != std::string_view::npos; at = content.find(mark, at + 1))
            ++n;
        return n;
    }

    std::string folder;
};

} // namespace orvalink::chat
