#include "chat/core/GroupReceiver.h"

#include "chat/core/ChatLog.h"
#include "chat/wire/ChatDatagram.h"
#include "platform/text/Cp932.h"

#include <algorithm>
#include <chrono>

namespace orvalink::chat {

namespace {

const std::string& joinedSuffix()
{
    static const std::string s = platform::utf8ToCp932("さんが参加しました");
    return s;
}

const std::string& continuedMark()
{
    static const std::string s = platform::utf8ToCp932(" (続く)");
    return s;
}

// A display name holding a line break would start a line of its own in the chat log.
bool nameBreaksLines(std::string_view name)
{
    return name.find_first_of("\r\n") != std::string_view::npos;
}

} // namespace

GroupReceiver::GroupReceiver(Io& io, ChatGroups& groups)
    : m_io(io), m_groups(groups), m_clock([] { return std::time(nullptr); }), m_steadyMs([] {
          return std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now().time_since_epoch())
              .count();
      })
{
}

int GroupReceiver::messageHeight(std::string_view payload, bool* capped)
{
    // CR LF pairs are searched from position 1 on, each search one past the last find.
    int height = 18;
    for (std::size_t pos = payload.find("\r\n", 1); pos != std::string_view::npos; pos = payload.find("\r\n", pos + 1))
        height = std::min(height + 12, 90);
    const bool cut = height > 78;
    if (capped)
        *capped = cut;
    return cut ? 78 : height;
}

void GroupReceiver::answerNewcomer(int g)
{
    // A token bucket: kReplyBurst replies may go at once, then one per window. A newcomer that
    // finds no token is answered by the reply scheduled for the end of the window, which answers
    // every newcomer up to then as well (it is a broadcast).
    PresenceReplyState& r = m_groups.groups[static_cast<std::size_t>(g)].replies;
    if (r.pending)
        return;
    const std::int64_t now = m_steadyMs();
    if (r.tokens < 0)
        r.tokens = kReplyBurst;
    else
        r.tokens = std::min<double>(kReplyBurst, r.tokens + static_cast<double>(now - r.lastMs) / kReplyWindowMs);
    r.lastMs = now;
    if (r.tokens >= 1) {
        r.tokens -= 1;
        sendPresenceReply(g);
        return;
    }
    r.pending = true;
    const int wait = static_cast<int>((1 - r.tokens) * kReplyWindowMs) + 1;
    m_io.schedule(wait, [this, g, alive = std::weak_ptr<int>(m_alive)] {
        if (alive.expired())
            return;
        PresenceReplyState& s = m_groups.groups[static_cast<std::size_t>(g)].replies;
        if (!s.pending)
            return; // the group went meanwhile
        s.pending = false;
        const std::int64_t at = m_steadyMs();
        const double refilled = s.tokens + static_cast<double>(at - s.lastMs) / kReplyWindowMs;
        s.tokens = std::max(0.0, std::min<double>(kReplyBurst, refilled) - 1);
        s.lastMs = at;
        sendPresenceReply(g);
    });
}

void GroupReceiver::sendPresenceReply(int g)
{
    // The announcement is the one the group's listener made when it opened the socket: the display
    // name is the table's, which changes only at the next start.
    m_io.sendPresenceReply(g, chat::buildPresence(m_groups.groups[static_cast<std::size_t>(g)].displayName));
}

void GroupReceiver::log(int g, std::string_view labelLine, std::string_view text)
{
    if (ChatLog* log = m_groups.chatLog(g))
        log->log(m_groups.groups[static_cast<std::size_t>(g)].name, labelLine, text);
}

void GroupReceiver::rowsChanged(int g)
{
    if (!m_coalesce) {
        m_groups.notifyRowsChanged(g);
        return;
    }
    m_changed.set(static_cast<std::size_t>(g));
    scheduleFlush();
}

void GroupReceiver::scheduleFlush()
{
    if (m_flushScheduled)
        return;
    m_flushScheduled = true;
    // After the datagrams waiting now (a timer runs once the socket's wake-up is over), and not
    // sooner than the interval after the last refresh.
    const std::int64_t since = m_steadyMs() - m_lastFlushMs;
    const int delay = since >= kRefreshIntervalMs ? 0 : static_cast<int>(kRefreshIntervalMs - since);
    m_io.schedule(delay, [this, alive = std::weak_ptr<int>(m_alive)] {
        if (!alive.expired())
            flushRowsChanged();
    });
}

void GroupReceiver::membersChanged(int g)
{
    if (!m_coalesce) {
        m_groups.notifyMembersChanged(g);
        return;
    }
    // A storm of newcomers costs one tooltip rebuild per refresh, not one per member.
    m_membersChanged = true;
    scheduleFlush();
}

void GroupReceiver::flushRowsChanged()
{
    m_flushScheduled = false;
    if (m_membersChanged) {
        m_membersChanged = false;
        m_groups.notifyMembersChanged(0);
    }
    m_lastFlushMs = m_steadyMs();
    const auto changed = m_changed;
    m_changed.reset();
    for (int g = 0; g < kMaxChatGroups; ++g)
        if (changed.test(static_cast<std::size_t>(g)))
            m_groups.notifyRowsChanged(g);
}

void GroupReceiver::handle(std::string_view text, const std::string& address, unsigned port)
{
    handle(m_groups.groupByPort(port), text, address, port);
}

void GroupReceiver::handle(int g, std::string_view text, const std::string& address, unsigned port)
{
    ChatGroups& table = m_groups;
    if (g < 0 || g >= table.groupCount)
        return;
    ChatGroup& group = table.groups[static_cast<std::size_t>(g)];
    // Peers send a group's datagrams from the group's port: anything else is no peer's.
    if (port == 0 || static_cast<int>(port) != chat::portNumber(group.port))
        return;
    const chat::ChatPayload p = chat::parsePayload(text);
    if (p.kind == chat::ChatKind::None || nameBreaksLines(p.name))
        return;
    const std::string name(p.name);
    const std::string key = chat::memberKey(address, port, p.name);

    switch (p.kind) {
    case chat::ChatKind::Presence: {
        if (group.members.contains(key))
            return; // known: no reply, so two instances never answer each other for ever
        if (group.members.size() >= kMaxMembersPerGroup) {
            // A full list takes no new keys, and they are not answered: a peer that invents names
            // can neither grow the list nor make this instance broadcast.
            if (!group.memberLimitTold) {
                group.memberLimitTold = true;
                m_io.memberLimitReached(g, group.name);
            }
            return;
        }
        // The tree hears of the member once its first fill is done (it registers then).
        table.addMember(g, key);
        membersChanged(g);
        answerNewcomer(g);
        return;
    }
    case chat::ChatKind::Join: {
        const std::string body = name + joinedSuffix();
        const std::time_t now = m_clock();
        table.appendRow(g, {name + ChatLog::timeText(now), 30, body, RowKind::Join, true, 0, key, now});
        rowsChanged(g);
        log(g, "From: " + name, body);
        return;
    }
    case chat::ChatKind::GroupMessage:
    case chat::ChatKind::PersonalMessage: {
        const std::time_t now = m_clock();
        std::string header = name + ChatLog::timeText(now);
        bool capped = false;
        const int height = messageHeight(text, &capped);
        if (capped)
            header += continuedMark();
        const RowKind kind = p.kind == chat::ChatKind::PersonalMessage ? RowKind::PersonalMessage : RowKind::Message;
        table.appendRow(g, {std::move(header), height, std::string(p.text), kind, true, 0, key, now});
        rowsChanged(g);
        log(g, "From: " + name, p.text);
        if (m_messageHook && !group.rows.empty())
            m_messageHook(g, group.rows.back());
        return;
    }
    case chat::ChatKind::Leave: {
        if (!table.removeMember(g, key))
            return;
        membersChanged(g);
        return;
    }
    case chat::ChatKind::None:
        return;
    }
}

} // namespace orvalink::chat
