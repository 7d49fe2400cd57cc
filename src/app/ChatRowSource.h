#pragma once

// The shown chat group's rows as the right pane reads them. This is the one place that reads a
// group's rows for the pane: nothing is copied, each call looks at the group as it is now. When
// the group holds more rows than the pane, the pane sees the newest kPaneRowCapacity of them.

#include "controls/ReportRowSource.h"

#include <cstddef>

namespace orvalink::chat {
class ChatGroupTable;
} // namespace orvalink::chat

namespace orvalink::app {

using chat::ChatGroupTable;
using controls::ReportRowSource;
using controls::ReportSourceRow;

inline constexpr int kPaneRowCapacity = 7878;

class ChatRowSource : public ReportRowSource {
public:
    // Reads the rows of table's groups; the table outlives the source.
    explicit ChatRowSource(ChatGroupTable& table) : m_table(table) {}

    // The group whose rows are shown; outside the table, the source is empty.
    void setGroup(int group) { m_group = group; }
    int group() const { return m_group; }

    int rowCount() const override;
    ReportSourceRow row(int i) const override;
    std::string_view body(int i) const override;
    int find(std::uint64_t serial, int hint) const override;
    void markRead(int i) override;

private:
    // Index in the group's rows of the pane's row 0.
    std::size_t firstShown() const;

    ChatGroupTable& m_table;
    int m_group = -1;
};

} // namespace orvalink::app
