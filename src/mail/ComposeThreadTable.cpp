#include "mail/ComposeThreadTable.h"

#include <algorithm>

namespace orvalink::mail {

int ComposeThreadTable::firstFree() const
{
    const auto it = std::find(threads.begin(), threads.end(), nullptr);
    return it == threads.end() ? -1 : static_cast<int>(it - threads.begin());
}

int ComposeThreadTable::openCount() const
{
    return static_cast<int>(std::count_if(threads.begin(), threads.end(), [](const CSendThread* t) { return t; }));
}

} // namespace orvalink::mail
