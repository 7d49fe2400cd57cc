#pragma once

// A "window" in the message sense: an object living on one thread (its Qt thread affinity) that
// handles numbered messages in windowProc. Messages reach it through sendMessage/postMessage
// (platform/Dispatch.h).

#include "platform/Messages.h"

#include <QObject>
#include <cstdint>
#include <string>
#include <variant>

namespace orvalink::platform {

// A message parameter: nothing, a number, or a text. A text is moved into the message, so the
// receiver owns it.
using MessageParam = std::variant<std::monostate, std::int64_t, std::string>;

struct WindowMessage {
    unsigned id = 0;
    MessageParam wParam;
    MessageParam lParam;
};

// Convenience readers for windowProc implementations: the number (0 when the parameter holds
// none) and the text (moved out; empty when the parameter holds none).
std::int64_t paramInt(const MessageParam& p);
std::string takeParamText(MessageParam& p);

class MessageTarget : public QObject {
    Q_OBJECT
public:
    explicit MessageTarget(QObject* parent = nullptr);
    ~MessageTarget() override;

    // Runs on the target's thread. A WM_QUIT that arrives through the queue (posted, or sent from
    // another thread) also ends the event loop of the UiThread the target lives on once
    // windowProc has seen it, as a quit message ends a thread's message loop.
    virtual std::intptr_t windowProc(WindowMessage& msg) = 0;

    // Like destroying a window: windowProc sees WM_DESTROY, then the target stops accepting
    // messages (pending ones are dropped, blocked senders get 0), destroyedWindow() is emitted and
    // the object is deleted later on its thread. Call it on the target's thread. Calling it again
    // does nothing.
    void destroyWindow();

    // False once destroyWindow() has run (or the target's thread has finished its loop).
    bool isAlive() const;

signals:
    void destroyedWindow();

protected:
    bool event(QEvent* e) override;

private:
    bool m_destroying = false;
};

} // namespace orvalink::platform
