#include "platform/text/ByteEscape.h"

#include <gtest/gtest.h>
#include <string>

namespace orvalink::platform {

namespace {

TEST(ByteEscape, EveryByteSurvivesTheRoundTripOnOneLine)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    const std::string text = escapeBytes(all);
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        EXPECT_TRUE(u >= 0x20 && u <= 0x7e) << "byte " << int(u) << " in the escaped text";
    }
    const auto back = unescapeBytes(text);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, all);
    // Each byte alone, so that a fault is named by its byte.
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        EXPECT_EQ(unescapeBytes(escapeBytes(one)), one) << "byte " << b;
    }
}

TEST(ByteEscape, WritesTheDocumentedForms)
{
    const struct {
        std::string bytes;
        std::string text;
    } cases[] = {
        {"", ""},
        {"Hello, world ~!", "Hello, world ~!"},
        {"\\", "\\\\"},
        {"a\\xb", "a\\\\xb"},
        {std::string("\0\x01\x1f", 3), "\\x00\\x01\\x1f"},
        {"\x7f\x80\xfe\xff", "\\x7f\\x80\\xfe\\xff"},
        {"\r\n\t", "\\x0d\\x0a\\x09"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(escapeBytes(c.bytes), c.text) << c.text;
}

TEST(ByteEscape, ReadsEitherHexCaseAndRejectsMalformedText)
{
    EXPECT_EQ(unescapeBytes("\\xAb\\xaB"), std::string("\xab\xab"));
    EXPECT_EQ(unescapeBytes("x\\x41y"), std::string("xAy"));
    for (const char* bad : {"\\", "abc\\", "\\x", "\\x4", "\\x4g", "\\xg4", "\\n", "\\ ", "tab\there", "\x80"})
        EXPECT_FALSE(unescapeBytes(bad).has_value()) << bad;
}

} // namespace

} // namespace orvalink::platform
