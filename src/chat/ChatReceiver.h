#pragma once

// The receive handler of the chat groups: every assembled datagram, on the main thread. It keeps
// each group's member list (and the tree's member nodes), answers newcomers with a presence
// announcement, appends rows for join notices and messages, tells the main window that a group's
// rows changed, and writes the chat log.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>

class ChatReceiver {
public:
    // What the handler does through a group's listener: the presence reply and the chat log.
    class GroupIo {
    public:
        virtual ~GroupIo() = default;
        virtual void sendPresenceReply(int group) = 0;
        virtual void log(int group, std::string_view groupName, std::string_view labelLine, std::string_view text) = 0;
    };

    // A group keeps at most this many rows (the right pane's capacity); when it is full the oldest
    // row goes, so the list always shows the newest rows. The chat log keeps everything.
    static constexpr std::size_t kMaxRowsPerGroup = 7878;

    explicit ChatReceiver(GroupIo& io);

    void handle(std::string_view text, const std::string& address, unsigned port);

    // The local time stamped on rows (tests set a fixed clock).
    void setClock(std::function<std::time_t()> clock) { m_clock = std::move(clock); }

    // Row height of a message: 18 pixels plus 12 per CR LF in the payload, at most 78; capped tells
    // whether the height was cut (the header then ends with " (続く)").
    static int messageHeight(std::string_view payload, bool* capped = nullptr);

    // The number for the next row appended anywhere (rising from 1; main thread only).
    static std::uint64_t nextRowSerial();

    // The listeners' own I/O: presence replies and logs go through group g's hidden window.
    static GroupIo& listenerIo();

private:
    GroupIo& m_io;
    std::function<std::time_t()> m_clock;
};
