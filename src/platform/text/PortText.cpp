#include "platform/text/PortText.h"

namespace orvalink::platform {

bool isTypedPortText(std::string_view portText)
{
    if (portText.empty())
        return false;
    long value = 0;
    for (char c : portText) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
        if (value > 65535)
            return false;
    }
    return value >= 1;
}

} // namespace orvalink::platform
