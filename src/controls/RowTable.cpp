#include "controls/RowTable.h"

#include "chat/ChatGroupTable.h"
#include "platform/Profile.h"

#include <algorithm>
#include <cstddef>

namespace orvalink::controls {

using chat::chatGroupTable;
using chat::ChatRow;
using chat::kMaxChatGroups;

const RowTableEntry* RowTable::entry(int i) const
{
    if (i < 0 || i >= std::min(count, kRowTableCapacity))
        return nullptr;
    return &rows[static_cast<std::size_t>(i)];
}

void RowTable::clear()
{
    // Entries out of use let go of their texts, which may be the only hold on rows a group dropped.
    for (int i = 0; i < std::min(count, kRowTableCapacity); ++i)
        rows[static_cast<std::size_t>(i)] = RowTableEntry{};
    count = 0;
    group = -1;
    firstGroupRow = 0;
}

RowTable& rowTable()
{
    static RowTable table;
    return table;
}

void fillRowTableFromGroup(int g)
{
    RowTable& table = rowTable();
    const int before = table.count;
    table.count = 0;
    table.group = -1;
    table.firstGroupRow = 0;
    if (g < 0 || g >= kMaxChatGroups) {
        table.count = before;
        table.clear();
        return;
    }
    const auto& source = chatGroupTable().groups[static_cast<std::size_t>(g)].rows;
    const std::size_t n = std::min(source.size(), static_cast<std::size_t>(kRowTableCapacity));
    const std::size_t first = source.size() - n;
    for (std::size_t i = 0; i < n; ++i) {
        const ChatRow& row = source[first + i];
        RowTableEntry& e = table.rows[i];
        e.header = row.header;
        e.personal = platform::Profile::parseInt(row.personal);
        e.unread = platform::Profile::parseInt(row.unread);
        e.height = platform::Profile::parseInt(row.height);
        e.body = row.body;
        e.serial = row.serial;
        e.senderKey = row.senderKey;
    }
    for (std::size_t i = n; i < static_cast<std::size_t>(std::clamp(before, 0, kRowTableCapacity)); ++i)
        table.rows[i] = RowTableEntry{};
    table.count = static_cast<int>(n);
    table.group = g;
    table.firstGroupRow = static_cast<int>(first);
}

} // namespace orvalink::controls
