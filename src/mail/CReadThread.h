#pragma once

// The thread of one read window. It exists exactly as long as its window and holds one of the
// application's reading-window slots while it runs; the window's widgets live on the GUI thread
// (CReadFrame).

#include "platform/UiThread.h"

namespace orvalink::mail {

class CReadThread : public platform::UiThread {
    Q_OBJECT
public:
    int windowSlot() const { return m_slot; }
    void setWindowSlot(int slot) { m_slot = slot; }

protected:
    bool initInstance() override;

private:
    int m_slot = -1;
};

} // namespace orvalink::mail
