#pragma once

// The thread of one compose window. It exists exactly as long as its window and holds one slot of
// the compose thread table while it runs. The window's widgets live on the GUI thread (CSendFrame);
// the mail's conversation with the SMTP server (its socket, its time-out and its message boxes)
// lives on this thread, in the thread's main window CSendWorker.

#include "platform/UiThread.h"

#include <string>

namespace orvalink::mail {

class CSendFrame;
class CSendWorker;
class MailState;

class CSendThread : public platform::UiThread {
    Q_OBJECT
public:
    // `side` holds the thread's slot and the settings its worker reads; it outlives the thread.
    explicit CSendThread(MailState& side) : m_side(side) {}
    MailState& mailState() const { return m_side; }
    // The opening values, set by the opener before the thread starts; the window copies them when
    // it is made.
    std::string initialTo;
    std::string initialSubject;

    int windowSlot() const { return m_slot; }
    void setWindowSlot(int slot) { m_slot = slot; }
    CSendFrame* frame() const { return m_frame; }
    void setFrame(CSendFrame* frame) { m_frame = frame; }
    CSendWorker* worker() const;

protected:
    bool initInstance() override;

private:
    MailState& m_side;
    int m_slot = -1;
    CSendFrame* m_frame = nullptr;
};

} // namespace orvalink::mail
