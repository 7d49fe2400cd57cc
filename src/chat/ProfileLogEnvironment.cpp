#include "chat/ProfileLogEnvironment.h"

#include "platform/MessageBox.h"
#include "platform/Profile.h"

namespace orvalink::chat {

const ProfileLogEnvironment& ProfileLogEnvironment::application()
{
    static const ProfileLogEnvironment environment;
    return environment;
}

bool ProfileLogEnvironment::loggingOn() const
{
    return platform::Profile::application().getInt("NetMsg Entry", "Log YesNo", 0) != 0;
}

std::string ProfileLogEnvironment::logFolder() const
{
    return platform::Profile::application().getPath("NetMsg Entry", "Log Folder");
}

void ProfileLogEnvironment::tellUser(std::string text) const
{
    // Posted: the receive path and the listener must not wait for the user.
    platform::postMessageBox(std::move(text));
}

} // namespace orvalink::chat
