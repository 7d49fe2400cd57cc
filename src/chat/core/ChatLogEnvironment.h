#pragma once

// What a chat log needs from outside the chat core: whether logging is on and into which folder
// (read when a log file is to be opened), and a way to tell the user that a log cannot be
// written. Any thread may call it: received items are logged on the main thread, sent ones on the
// listener threads.

#include <string>

namespace orvalink::chat {

class ChatLogEnvironment {
public:
    virtual ~ChatLogEnvironment() = default;
    virtual bool loggingOn() const = 0;
    // The log folder, a file-system path; empty when none is set.
    virtual std::string logFolder() const = 0;
    // Tells the user text (code page 932) without waiting for the user.
    virtual void tellUser(std::string text) const = 0;
};

} // namespace orvalink::chat
