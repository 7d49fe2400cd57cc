#include "platform/text/Cp932.h"

#include <atomic>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace orvalink::platform {

TEST(Cp932, PrefixNeverSplitsADoubleByteCharacter)
{
    struct Case {
        std::string s;
        std::size_t max;
        std::size_t expected;
    };
    const Case cases[] = {
        {"abc", 10, 3},
        {"abc", 2, 2},
        {"\x82\xA0\x82\xA2", 3, 2}, // あい: the second character does not fit
        {"\x82\xA0\x82\xA2", 4, 4},
        {"a\x82\xA0", 2, 1},
        {"\xB1\xB2\xB3", 2, 2}, // half-width katakana are single bytes
        {"\x82\xA0", 1, 0},
        {"", 0, 0},
        {"\x82", 1, 1}, // a lone lead byte at the end counts as a whole character
    };
    for (const auto& c : cases)
        EXPECT_EQ(cp932PrefixLength(c.s, c.max), c.expected) << c.s.size() << "/" << c.max;
}

TEST(Cp932, ConvertsToAndFromUtf8)
{
    struct Case {
        std::string cp932;
        std::string utf8;
    };
    const Case cases[] = {
        {"\x83\x4F\x83\x8B\x81\x5B\x83\x76\x82\x50", "グループ１"},
        {"\xBF\xB9\xAF\xC4", "ｿｹｯﾄ"},
        {"\x82\x51\x8F\x64\x8B\x4E\x93\xAE\x82\xCD\x8F\x6F\x97\x88\x82\xDC\x82\xB9\x82\xF1", "２重起動は出来ません"},
        {"plain ASCII", "plain ASCII"},
        {"\x81\x60", "～"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cp932ToUtf8(c.cp932), c.utf8);
        EXPECT_EQ(utf8ToCp932(c.utf8), c.cp932);
        EXPECT_TRUE(cp932RoundTrips(c.cp932));
    }
}

TEST(Cp932, WhatCannotBeConvertedBecomesAQuestionMark)
{
    EXPECT_EQ(utf8ToCp932("a\xF0\x9F\x98\x80z"), "a?z"); // emoji
    EXPECT_EQ(utf8ToCp932("a\xC3\x28z"), "a?(z");        // invalid UTF-8 keeps the next character
    EXPECT_EQ(utf8ToCp932("\xE4\xB8"), "?");             // cut short at the end
    EXPECT_EQ(cp932ToUtf8("a\x82"), "a?");               // lone lead byte at the end
    EXPECT_EQ(cp932ToUtf8("\xFF"
                          "b"),
              "?b");
    EXPECT_FALSE(cp932RoundTrips("\xFF"));
    EXPECT_FALSE(cp932RoundTrips("\x82"));
}

TEST(Cp932, ALoneLeadByteTakesOnlyATrailByteWithIt)
{
    struct Case {
        std::string cp932;
        std::string utf8;
    };
    const Case cases[] = {
        {"a\x82\r\nb", "a?\r\nb"},                 // the line break stays
        {"\x82\x0a", "?\n"},                       // lead byte before LF
        {"\xE0\x20x", "? x"},                      // before a space
        {"\x81\x7F\x82\xA0", "?\x7F\xE3\x81\x82"}, // 0x7F is no trail byte: あ follows whole
        {"\x85\x40z", "?z"},                       // a trail byte, but no character: both go
        {"\xFC\xFDq", "??q"},                      // 0xFD is no trail byte either
    };
    for (const auto& c : cases)
        EXPECT_EQ(cp932ToUtf8(c.cp932), c.utf8) << testing::PrintToString(c.cp932);
}

TEST(Cp932, ConversionsOnSeveralThreadsAtOnceAgree)
{
    // Each thread has converters of its own; run them side by side (meaningful under ThreadSanitizer).
    const std::string cp932 = "\x83\x4F\x83\x8B\x81\x5B\x83\x76\x82\x50 \xBF\xB9\xAF\xC4 \xFF";
    const std::string expected = cp932ToUtf8(cp932);
    std::vector<std::thread> threads;
    std::atomic<int> mismatches{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i)
                if (cp932ToUtf8(cp932) != expected || utf8ToCp932(expected) != utf8ToCp932(cp932ToUtf8(cp932)))
                    ++mismatches;
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(expected, "グループ１ ｿｹｯﾄ ?");
}

} // namespace orvalink::platform
