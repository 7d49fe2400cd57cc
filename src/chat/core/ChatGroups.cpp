#include "chat/core/ChatGroups.h"

#include "chat/core/ChatGroupObserver.h"
#include "chat/wire/ChatDatagram.h"

#include <algorithm>

namespace orvalink::chat {

std::string chatGroupLabel(std::string_view groupName)
{
    return "Orvalink(" + std::string(groupName) + ")";
}

std::size_t rowBytes(const ChatRow& row)
{
    // The fixed share stands for the row's own bookkeeping (its fields, the deque slot, the shared
    // text blocks), so that a flood of empty rows is bounded as well.
    constexpr std::size_t kRowOverhead = 256;
    return row.header.size() + row.body.size() + kRowOverhead;
}

int ChatGroups::groupByPort(unsigned port) const
{
    // A group listens on the port its text reads as ("12122abc" on 12122), so it is found by that
    // number: comparing texts would leave such a group deaf to everything it receives.
    for (int g = 0; g < groupCount; ++g) {
        const int number = chat::portNumber(groups[static_cast<std::size_t>(g)].port);
        if (number != 0 && static_cast<unsigned>(number) == port)
            return g;
    }
    return -1;
}

void ChatGroups::appendRow(int g, ChatRow row)
{
    ChatGroup& group = groups[static_cast<std::size_t>(g)];
    const std::size_t cost = rowBytes(row);
    auto dropOldest = [](ChatGroup& from) {
        const std::size_t gone = rowBytes(from.rows.front());
        from.rowBytes -= std::min(from.rowBytes, gone);
        from.rows.pop_front();
    };
    while (!group.rows.empty() &&
           (group.rows.size() >= kMaxRowsPerGroup || group.rowBytes + cost > kMaxRowBytesPerGroup))
        dropOldest(group);
    // All groups together: the oldest row of any group leaves first (rows are numbered in order
    // of arrival across groups).
    for (;;) {
        std::size_t total = cost;
        ChatGroup* oldest = nullptr;
        for (int i = 0; i < groupCount; ++i) {
            ChatGroup& other = groups[static_cast<std::size_t>(i)];
            total += other.rowBytes;
            if (!other.rows.empty() && (!oldest || other.rows.front().serial < oldest->rows.front().serial))
                oldest = &other;
        }
        if (total <= kMaxRowBytesTotal || !oldest)
            break;
        dropOldest(*oldest);
    }
    row.serial = nextRowSerial();
    group.rowBytes += cost;
    group.rows.push_back(std::move(row));
}

std::uint64_t ChatGroups::nextRowSerial()
{
    static std::uint64_t last = 0; // rows are appended on the main thread only
    return ++last;
}

void ChatGroups::loadGroups(const ChatGroupStore& store)
{
    const std::vector<StoredGroup> stored = store.load(kMaxChatGroups);
    groupCount = static_cast<int>(std::min<std::size_t>(stored.size(), kMaxChatGroups));
    for (int g = 0; g < groupCount; ++g) {
        const StoredGroup& from = stored[static_cast<std::size_t>(g)];
        ChatGroup& group = groups[static_cast<std::size_t>(g)];
        group.port = from.port;
        group.name = from.name;
        group.displayName = from.displayName;
    }
}

int ChatGroups::addGroup(const StoredGroup& stored, ChatGroupStore& store)
{
    if (groupCount >= kMaxChatGroups)
        return -1;
    const int g = groupCount;
    store.save(g, stored);
    ChatGroup& group = groups[static_cast<std::size_t>(g)];
    group = ChatGroup{};
    // The table holds the port text as typed, like the store; it listens on and is found by the
    // number the text reads as ("12122abc" on 12122).
    group.port = stored.port;
    group.name = stored.name;
    group.displayName = stored.displayName;
    groupCount = g + 1;
    notifyGroupAdded(g);
    return g;
}

void ChatGroups::removeGroup(int g, ChatGroupStore& store)
{
    if (g < 0 || g >= groupCount)
        return;
    const int count = groupCount;
    store.remove(g, count);
    for (int i = g; i < count - 1; ++i)
        groups[static_cast<std::size_t>(i)] = std::move(groups[static_cast<std::size_t>(i + 1)]);
    groups[static_cast<std::size_t>(count - 1)] = ChatGroup{};
    groupCount = count - 1;
}

ChatLog* ChatGroups::chatLog(int g)
{
    if (!m_logEnvironment || g < 0 || g >= groupCount)
        return nullptr;
    std::unique_ptr<ChatLog>& log = groups[static_cast<std::size_t>(g)].log;
    if (!log)
        log = std::make_unique<ChatLog>(*m_logEnvironment);
    return log.get();
}

bool ChatGroups::addMember(int g, const std::string& key)
{
    if (!groups[static_cast<std::size_t>(g)].members.add(key))
        return false;
    for (ChatGroupObserver* o : std::vector(m_observers))
        o->memberAdded(g, key);
    return true;
}

bool ChatGroups::removeMember(int g, const std::string& key)
{
    if (!groups[static_cast<std::size_t>(g)].members.remove(key))
        return false;
    for (ChatGroupObserver* o : std::vector(m_observers))
        o->memberRemoved(g, key);
    return true;
}

void ChatGroups::addObserver(ChatGroupObserver& observer)
{
    if (!isObserver(observer))
        m_observers.push_back(&observer);
}

void ChatGroups::removeObserver(ChatGroupObserver& observer)
{
    std::erase(m_observers, &observer);
}

bool ChatGroups::isObserver(const ChatGroupObserver& observer) const
{
    return std::find(m_observers.begin(), m_observers.end(), &observer) != m_observers.end();
}

void ChatGroups::notifyRowsChanged(int g)
{
    notifyAll([g](ChatGroupObserver& o) { o.groupRowsChanged(g); });
}

void ChatGroups::notifyMembersChanged(int g)
{
    notifyAll([g](ChatGroupObserver& o) { o.groupMembersChanged(g); });
}

void ChatGroups::notifyAnnounceFailureChanged()
{
    notifyAll([](ChatGroupObserver& o) { o.announceFailureChanged(); });
}

void ChatGroups::notifyGroupAdded(int g)
{
    notifyAll([g](ChatGroupObserver& o) { o.groupAdded(g); });
}

void ChatGroups::notifyGroupRemoved(int g)
{
    notifyAll([g](ChatGroupObserver& o) { o.groupRemoved(g); });
}

void ChatGroups::resetGroups()
{
    for (auto& g : groups)
        g = ChatGroup{};
    groupCount = 0;
    m_observers.clear();
}

} // namespace orvalink::chat
