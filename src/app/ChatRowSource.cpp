#include "app/ChatRowSource.h"

#include "chat/ChatGroupTable.h"

#include <algorithm>

namespace orvalink::app {

using chat::ChatGroupTable;
using chat::ChatRow;
using chat::kMaxChatGroups;
using controls::ReportSourceRow;

namespace {

const std::deque<ChatRow>* groupRows(const ChatGroupTable& table, int g)
{
    if (g < 0 || g >= kMaxChatGroups)
        return nullptr;
    return &table.groups[static_cast<std::size_t>(g)].rows;
}

} // namespace

std::size_t ChatRowSource::firstShown() const
{
    const auto* rows = groupRows(m_table, m_group);
    return rows ? rows->size() - std::min(rows->size(), static_cast<std::size_t>(kPaneRowCapacity)) : 0;
}

int ChatRowSource::rowCount() const
{
    const auto* rows = groupRows(m_table, m_group);
    return rows ? static_cast<int>(std::min(rows->size(), static_cast<std::size_t>(kPaneRowCapacity))) : 0;
}

ReportSourceRow ChatRowSource::row(int i) const
{
    const ChatRow& r = (*groupRows(m_table, m_group))[firstShown() + static_cast<std::size_t>(i)];
    ReportSourceRow out;
    out.header = r.header;
    out.height = r.height;
    out.personal = r.kind == chat::RowKind::PersonalMessage;
    out.unread = r.unread;
    out.serial = r.serial;
    out.from = r.senderKey;
    return out;
}

std::string_view ChatRowSource::body(int i) const
{
    return (*groupRows(m_table, m_group))[firstShown() + static_cast<std::size_t>(i)].body;
}

int ChatRowSource::find(std::uint64_t serial, int hint) const
{
    const auto* rows = groupRows(m_table, m_group);
    const int count = rowCount();
    if (!rows || count == 0)
        return -1;
    const std::size_t first = firstShown();
    if (hint >= 0 && hint < count && (*rows)[first + static_cast<std::size_t>(hint)].serial == serial)
        return hint;
    if (serial == 0)
        return -1;
    // Rows are numbered in order of arrival: the shown ones are sorted by their numbers.
    const auto begin = rows->begin() + static_cast<std::ptrdiff_t>(first);
    const auto it =
        std::lower_bound(begin, rows->end(), serial, [](const ChatRow& r, std::uint64_t s) { return r.serial < s; });
    return it != rows->end() && it->serial == serial ? static_cast<int>(it - begin) : -1;
}

void ChatRowSource::markRead(int i)
{
    const int count = rowCount();
    if (i < 0 || i >= count)
        return;
    auto& rows = m_table.groups[static_cast<std::size_t>(m_group)].rows;
    const std::size_t index = rows.size() - static_cast<std::size_t>(count - i);
    if (index < rows.size())
        rows[index].unread = false;
}

} // namespace orvalink::app
