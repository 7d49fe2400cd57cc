#include "platform/text/PortText.h"

#include <gtest/gtest.h>
#include <utility>

namespace orvalink::platform {

namespace {

TEST(PortText, TypedPortTextsAreDigitsNamingAPort)
{
    const std::pair<const char*, bool> cases[] = {
        {"12121", true},
        {"1", true},
        {"65535", true},
        {"012121", true},
        {"1e4", false},
        {"12122abc", false},
        {"0", false},
        {"65536", false},
        {"", false},
        {" 12121", false},
        {"12121 ", false},
        {"+12121", false},
        {"99999999999999999999", false},
        {"\x8f\x82", false},
    };
    for (const auto& [t, ok] : cases)
        EXPECT_EQ(platform::isTypedPortText(t), ok) << t;
}

} // namespace

} // namespace orvalink::platform
