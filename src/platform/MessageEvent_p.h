#pragma once

// Internal to the dispatch facility: the queued form of a window message and the registry of live
// targets. Not for use outside src/platform.

#include "platform/MessageTarget.h"

#include <QEvent>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>

namespace orvalink::platform {

namespace detail {

// A window message queued to a target's thread. For a sent message it carries the promise the
// sender waits on; the promise is kept when the message is handled and, failing that, when the
// event is destroyed unhandled (target deleted with the message pending, queue purged), so the
// sender always wakes up.
class MessageEvent : public QEvent {
public:
    // Sent messages have a type of their own: a thread blocked in sendMessage handles the sent
    // messages queued to its own targets while it waits (two threads sending to each other at the
    // same time do not deadlock), but never the posted ones, which wait for its event loop.
    static QEvent::Type sentType();
    static QEvent::Type postedType();
    static bool isMessageEvent(const QEvent* e) { return e->type() == sentType() || e->type() == postedType(); }
    // Drops every message queued to receiver (null: to every object of the calling thread).
    static void removeQueued(QObject* receiver);

    MessageEvent(WindowMessage msg, std::shared_ptr<std::promise<std::intptr_t>> reply);
    ~MessageEvent() override;
    MessageEvent(const MessageEvent&) = delete;
    MessageEvent& operator=(const MessageEvent&) = delete;

    WindowMessage& message() { return m_msg; }
    void answer(std::intptr_t result);

private:
    WindowMessage m_msg;
    std::shared_ptr<std::promise<std::intptr_t>> m_reply;
    bool m_answered = false;
};

// The registry of live targets: a target is in it from construction until it is destroyed or
// retired, and open while it still accepts messages. All under one mutex, so that a sender's
// "is it live?" and its postEvent happen before the target's removal, never after.
std::mutex& registryMutex();
void registerTarget(const MessageTarget* t);
void unregisterTarget(const MessageTarget* t);
// Marks t closed; returns false when it was not open.
bool closeTarget(const MessageTarget* t);
// Requires registryMutex() held.
bool isOpenLocked(const MessageTarget* t);

} // namespace detail

} // namespace orvalink::platform
