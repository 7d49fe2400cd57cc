#pragma once

// The time text of chat row headers and chat log records.

#include <ctime>
#include <string>

namespace orvalink::chat {

// "  %Y/%m/%d  %H:%M:%S" for the given local time.
std::string chatTimeText(std::time_t t);

} // namespace orvalink::chat
