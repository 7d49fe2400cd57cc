#pragma once

// The thread of one chat write window. It exists exactly as long as its window and holds one of
// the 100 chat write slots of the group table while it runs. The window's widgets live on the GUI
// thread (CSendChatFrame); what the window sends goes out from this thread, which blocks in the
// synchronous message to the group's listener until the datagram has left.

#include "platform/UiThread.h"

#include <atomic>
#include <string>

namespace orvalink::chat {

class CSendChatFrame;
class CSendChatWorker;

class CSendChatThread : public platform::UiThread {
    Q_OBJECT
public:
    // What the opener fills in before the thread starts (the window copies it when it is made).
    std::string groupLabel; // "Orvalink(" + group name + ")"
    std::string memberName; // the addressed member (write to a person), else empty
    std::string senderName; // read mode: who wrote the shown message; empty in write mode
    std::string body;       // read mode: the received text
    std::string recipient;  // dotted address of a personal message; empty for the whole group
    // Addressed to one person (write to a person, or a read window's reply). Such a window never
    // falls back to the whole group when no recipient address was found.
    bool personal = false;
    // Opened on a received message: the window shows body read-only until the user replies.
    bool readMode = false;

    CSendChatThread() = default;

    int groupIndex() const { return m_group.load(); }
    void setGroupIndex(int group) { m_group.store(group); }
    int slotIndex() const { return m_slot; }
    void setSlotIndex(int slot) { m_slot = slot; }
    CSendChatFrame* frame() const { return m_frame; }
    void setFrame(CSendChatFrame* frame) { m_frame = frame; }
    CSendChatWorker* worker() const;

    // A group was deleted and the following groups moved down by one: a window of the deleted
    // group now has none (its send is refused), a window of a later group follows its group.
    static void groupRemoved(int group);

protected:
    bool initInstance() override;

private:
    std::atomic<int> m_group{-1};
    int m_slot = -1;
    CSendChatFrame* m_frame = nullptr;
};

} // namespace orvalink::chat
