#pragma once

// The right pane's rows: a fixed table that the main window fills from the shown group's ChatRows
// just before it asks the pane to reload. When a group holds more rows than fit, the table keeps
// the newest ones and remembers which group row its first entry came from, so that opening a row
// marks the right ChatRow read. The header and body texts are shared with the group's rows, not
// copied: the table costs no more than a few words per row, whatever the messages hold.

#include "chat/SharedText.h"

#include <array>
#include <cstdint>
#include <string>

namespace orvalink::controls {

using chat::SharedText;

inline constexpr int kRowTableCapacity = 7878;

struct RowTableEntry {
    SharedText header;
    int personal = 0;
    int unread = 0;
    int height = 0; // preview height in pixels
    SharedText body;
    std::uint64_t serial = 0; // the row's number among all received rows (0 = not numbered)
    SharedText senderKey;     // the sender's member key (shared)
};

struct RowTable {
    std::array<RowTableEntry, kRowTableCapacity> rows;
    int count = 0;         // entries in use, never more than kRowTableCapacity
    int group = -1;        // the group the entries were copied from
    int firstGroupRow = 0; // index in that group's rows of entry 0

    // Entry i, or nullptr when i is outside the entries in use.
    const RowTableEntry* entry(int i) const;
    void clear();
};

// The process-wide table of the right pane.
RowTable& rowTable();

// Copies group g's rows into rowTable(): header and body texts (shared), and the integer values of the
// personal, unread and height texts. When the group holds more rows than the table, its newest
// kRowTableCapacity rows are copied. A group index outside the table empties it.
void fillRowTableFromGroup(int g);

} // namespace orvalink::controls
