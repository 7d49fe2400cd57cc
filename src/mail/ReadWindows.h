#pragma once

// The application's 100 reading-window slots and the read windows in them. An opener takes the
// first empty slot (the 101st window is refused with the compose window's words), starts the
// window's thread, waits until it is ready and shows the window; a window gives its slot back when
// it closes. All of it runs on the GUI thread.

#include "store/IndexRecord.h"

#include <array>
#include <string>

namespace orvalink::mail {

class CReadFrame;
class CReadThread;

inline constexpr int kMaxReadWindows = 100;

// One stored message as the read window shows it.
struct ReadRequest {
    // The folder's name (code page 932): 受信したメール holds whole messages; the other folders hold
    // compositions, whose sender, recipient and subject exist only in their records.
    std::string folderName;
    store::IndexRecord record;
    // The message's bytes as stored.
    std::string bytes;
};

class MailState;

class ReadWindows {
public:
    // A reply opens its compose window on `side`, which outlives the read windows.
    explicit ReadWindows(MailState& side) : m_side(side) {}
    MailState& mailState() const { return m_side; }
    // Closes every window still open, ending its thread.
    ~ReadWindows();
    ReadWindows(const ReadWindows&) = delete;
    ReadWindows& operator=(const ReadWindows&) = delete;

    // Null when all slots are taken (the user is told) or the thread could not start.
    CReadFrame* open(ReadRequest request);
    void closeAll();
    int openCount() const;
    CReadFrame* window(int slot) const;

    // Called by a window whose thread ended.
    void release(int slot, const CReadThread* thread);

private:
    MailState& m_side;
    std::array<CReadThread*, kMaxReadWindows> m_threads{};
    std::array<CReadFrame*, kMaxReadWindows> m_frames{};
};

} // namespace orvalink::mail
