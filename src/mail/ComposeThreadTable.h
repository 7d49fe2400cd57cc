#pragma once

// The threads of the open compose windows: 100 of them, each empty or holding the thread of one open
// window. An opener takes the first empty slot; a window's thread gives its slot back when it
// ends. Both happen on the GUI thread.

#include <array>

namespace orvalink::mail {

class CSendThread;

inline constexpr int kMaxComposeWindows = 100;

struct ComposeThreadTable {
    std::array<CSendThread*, kMaxComposeWindows> threads{};

    // The first empty slot from 0; -1 when all are taken.
    int firstFree() const;
    int openCount() const;
};

} // namespace orvalink::mail
