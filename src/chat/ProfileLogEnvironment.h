#pragma once

// The chat logs' settings from the program's settings store ("NetMsg Entry": "Log YesNo", "Log
// Folder"), and their reports as message boxes posted to the main thread.

#include "chat/core/ChatLogEnvironment.h"

namespace orvalink::chat {

class ProfileLogEnvironment : public ChatLogEnvironment {
public:
    // The one over the application's settings store, for the whole run.
    static const ProfileLogEnvironment& application();

    bool loggingOn() const override;
    std::string logFolder() const override;
    void tellUser(std::string text) const override;
};

} // namespace orvalink::chat
