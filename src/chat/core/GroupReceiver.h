#pragma once

// What each datagram a group receives does, without any window or socket: it keeps the group's
// member list, answers newcomers with a presence announcement (a few at once, then one per window
// for all of them), appends rows for join notices and messages, tells the observers that a
// group's rows or members changed, and writes each row's record into the group's chat log itself.
// It runs on the thread that owns the groups (the program's main thread); what it sends or
// schedules goes through Io.

#include "chat/core/ChatGroups.h"

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace orvalink::chat {

// Where each text a group's socket has assembled goes, on the thread that owns the groups: the
// listeners hand it here without knowing who takes it (the program's GroupReceiver, or a test's
// stand-in). The one who sets a sink keeps it alive while it is set.
class ReceivedTextSink {
public:
    // text arrived on group g's socket from address:port.
    virtual void handle(int group, std::string_view text, const std::string& address, unsigned port) = 0;

protected:
    ~ReceivedTextSink() = default;
};

class GroupReceiver : public ReceivedTextSink {
public:
    // What the receiver does outside the groups' state.
    class Io {
    public:
        virtual ~Io() = default;
        // Broadcast datagram, this instance's presence announcement in group as the receiver built
        // it, on the group's socket: the answer to newcomers.
        virtual void sendPresenceReply(int group, const std::string& datagram) = 0;
        // The group's member list is full and a new key was not listed: tell the user (once per
        // group and run; the receiver sees to the once), without waiting for the user.
        virtual void memberLimitReached(int group, std::string_view groupName) = 0;
        // Runs task after delayMs on the receiving thread (the coalesced presence reply and
        // refresh).
        virtual void schedule(int delayMs, std::function<void()> task) = 0;
    };

    // A group keeps at most this many rows (the right pane's capacity) and at most
    // kMaxRowBytesPerGroup bytes of them; the oldest rows leave first. The chat log keeps everything.
    static constexpr std::size_t kMaxRowsPerGroup = chat::kMaxRowsPerGroup;

    // Newcomers are answered with one broadcast presence announcement. A few at once are answered
    // at once; beyond that one announcement answers every newcomer that arrived within
    // kReplyWindowMs, so a storm of new keys costs at most kReplyBurst + one reply per window.
    static constexpr int kReplyBurst = 4;
    static constexpr int kReplyWindowMs = 250;

    // The receiver of the groups of groups.
    GroupReceiver(Io& io, ChatGroups& groups);
    GroupReceiver(const GroupReceiver&) = delete;
    GroupReceiver& operator=(const GroupReceiver&) = delete;

    // A datagram payload that arrived on group g's socket (the group is the listener's, not the
    // sender's port). A datagram whose source port is not the group's port is not from a peer of
    // the group, and is ignored.
    void handle(int group, std::string_view text, const std::string& address, unsigned port) override;
    // The same for a datagram known only by its source port (the group whose port that is).
    void handle(std::string_view text, const std::string& address, unsigned port);

    // The local time stamped on rows (tests set a fixed clock).
    void setClock(std::function<std::time_t()> clock) { m_clock = std::move(clock); }
    // Milliseconds of a steady clock, for the presence reply window (tests set their own).
    void setSteadyClock(std::function<std::int64_t()> clock) { m_steadyMs = std::move(clock); }

    // Coalesced refreshes: instead of one rows-changed call per row, each group whose rows
    // changed is named once when the datagrams waiting have been handled, and at most once every
    // kRefreshIntervalMs, so a burst costs the main window one refresh and one repaint. Off by
    // default (every row is told at once).
    static constexpr int kRefreshIntervalMs = 50;
    void setCoalescedRefresh(bool on) { m_coalesce = on; }
    // Tells the observers now of every group whose rows changed since the last time, and of a
    // change of members (the tooltip) when there was one.
    void flushRowsChanged();

    // Told of every group or personal message once its row is in the table (the desktop
    // notification listens here); the row is the group's newest.
    using MessageHook = std::function<void(int group, const ChatRow& row)>;
    void setMessageHook(MessageHook hook) { m_messageHook = std::move(hook); }

    // Row height of a message: 18 pixels plus 12 per CR LF in the payload, at most 78; capped tells
    // whether the height was cut (the header then ends with " (続く)").
    static int messageHeight(std::string_view payload, bool* capped = nullptr);

    // The number for the next row appended anywhere (rising from 1; main thread only).
    static std::uint64_t nextRowSerial() { return ChatGroups::nextRowSerial(); }

private:
    void answerNewcomer(int group);
    void sendPresenceReply(int group);
    // Writes one record into group's chat log (received items: main thread).
    void log(int group, std::string_view labelLine, std::string_view text);
    void rowsChanged(int group);
    void membersChanged(int group);
    void scheduleFlush();

    Io& m_io;
    ChatGroups& m_groups;
    std::function<std::time_t()> m_clock;
    std::function<std::int64_t()> m_steadyMs;
    MessageHook m_messageHook;
    bool m_coalesce = false;
    bool m_flushScheduled = false;
    std::int64_t m_lastFlushMs = 0;
    std::bitset<kMaxChatGroups> m_changed;
    bool m_membersChanged = false;
    // Scheduled tasks hold this weakly: a receiver that is gone runs none of them.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

} // namespace orvalink::chat
