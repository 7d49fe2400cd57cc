#include "mail/ReadWindows.h"

#include "mail/CReadFrame.h"
#include "mail/CReadThread.h"
#include "mail/ComposeTexts.h"
#include "platform/MessageBox.h"

#include <algorithm>
#include <memory>

namespace orvalink::mail {

ReadWindows::~ReadWindows()
{
    closeAll();
}

CReadFrame* ReadWindows::open(ReadRequest request)
{
    const auto free = std::find(m_threads.begin(), m_threads.end(), nullptr);
    if (free == m_threads.end()) {
        platform::messageBox(tooManyWindowsText(), captionText(), platform::MB_OK);
        return nullptr;
    }
    const auto slot = static_cast<int>(free - m_threads.begin());
    auto thread = std::make_unique<CReadThread>();
    if (!thread->startAndWaitReady())
        return nullptr;
    thread->setWindowSlot(slot);
    CReadThread* t = thread.release();
    m_threads[static_cast<std::size_t>(slot)] = t;
    auto* frame = new CReadFrame(*this, t, std::move(request));
    m_frames[static_cast<std::size_t>(slot)] = frame;
    frame->showNormal();
    return frame;
}

void ReadWindows::closeAll()
{
    // Each window is gone when this returns, its thread ended: the program may be ending.
    for (CReadFrame* frame : m_frames) {
        if (frame) {
            frame->close();
            delete frame;
        }
    }
}

int ReadWindows::openCount() const
{
    return static_cast<int>(std::count_if(m_threads.begin(), m_threads.end(), [](const CReadThread* t) { return t; }));
}

CReadFrame* ReadWindows::window(int slot) const
{
    return slot >= 0 && slot < kMaxReadWindows ? m_frames[static_cast<std::size_t>(slot)] : nullptr;
}

void ReadWindows::release(int slot, const CReadThread* thread)
{
    if (slot < 0 || slot >= kMaxReadWindows || m_threads[static_cast<std::size_t>(slot)] != thread)
        return;
    m_threads[static_cast<std::size_t>(slot)] = nullptr;
    m_frames[static_cast<std::size_t>(slot)] = nullptr;
}

} // namespace orvalink::mail
