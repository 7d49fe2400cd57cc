#include "chat/core/ChatTime.h"

namespace orvalink::chat {

std::string chatTimeText(std::time_t t)
{
    std::tm tm{};
    ::localtime_r(&t, &tm);
    char buf[64];
    const std::size_t n = std::strftime(buf, sizeof buf, "  %Y/%m/%d  %H:%M:%S", &tm);
    return std::string(buf, n);
}

} // namespace orvalink::chat
