#include "chat/ChatGroupTable.h"

#include "chat/wire/ChatDatagram.h"

#include <algorithm>

namespace orvalink::chat {

int ChatGroupTable::groupByPort(unsigned port) const
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

std::size_t rowBytes(const ChatRow& row)
{
    // The fixed share stands for the row's own bookkeeping (five texts, the deque slot, the
    // shared text blocks), so that a flood of empty rows is bounded as well.
    constexpr std::size_t kRowOverhead = 256;
    return row.header.size() + row.height.size() + row.body.size() + row.personal.size() + row.unread.size() +
           kRowOverhead;
}

bool MemberList::add(const std::string& key)
{
    if (!m_index.insert(key).second)
        return false;
    m_keys.push_back(key);
    return true;
}

bool MemberList::remove(const std::string& key)
{
    if (m_index.erase(key) == 0)
        return false;
    m_keys.erase(std::find(m_keys.begin(), m_keys.end(), key));
    return true;
}

void MemberList::assign(std::vector<std::string> keys)
{
    m_keys.clear();
    m_index.clear();
    for (auto& k : keys)
        add(k);
}

void ChatGroupTable::appendRow(int g, ChatRow row)
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

std::uint64_t ChatGroupTable::nextRowSerial()
{
    static std::uint64_t last = 0; // rows are appended on the main thread only
    return ++last;
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

} // namespace orvalink::chat
