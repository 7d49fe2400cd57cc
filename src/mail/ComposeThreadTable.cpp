#include "mail/ComposeThreadTable.h"

#include <algorithm>

int ComposeThreadTable::firstFree() const
{
    const auto it = std::find(slots.begin(), slots.end(), nullptr);
    return it == slots.end() ? -1 : static_cast<int>(it - slots.begin());
}

int ComposeThreadTable::openCount() const
{
    return static_cast<int>(std::count_if(slots.begin(), slots.end(), [](const CSendThread* t) { return t; }));
}

ComposeThreadTable& composeThreadTable()
{
    static ComposeThreadTable table;
    return table;
}
