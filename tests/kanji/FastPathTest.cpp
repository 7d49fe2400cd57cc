// The fast path must give the same bytes as the general steps alone, also where its windows and
// the 16 KiB read buffer cut pairs, escapes and line ends: a mixed text larger than both is
// converted at every alignment of a short prefix.
#include "kanji/Conversion.h"
#include "kanji/KanjiTestSupport.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace orvalink::kanji {

namespace {

std::string convertWith(std::string_view input, bool fastPath)
{
    std::string output;
    auto in = std::make_unique<kanji::InputReader>(input);
    auto out = std::make_unique<kanji::LineStore>(output);
    kanji::Conversion(*in, *out, kanji::KanjiConverter::Options{}, fastPath).run();
    out->finish();
    return output;
}

std::string mixedText()
{
    std::string text;
    for (int i = 0; text.size() < 40'000; ++i) {
        text += "Subject: line " + std::to_string(i) + " \x1b$B$3$s$K$A$O(!(\"\x1b(B plain=text $ (B\n";
        text += "\xA4\xB3\xA4\xF3\xA4\xCB\xA4\xC1\xA4\xCF ascii \xE0\xA1\xE0\xA1\r\n";
        text += "\x82\xB1\x82\xF1\x82\xC9\xE0\x40 sjis\x1b$@$3\x1b(J done\n";
        if (i % 7 == 0)
            text += std::string(3000 + i, 'w') + "\n";
    }
    return text;
}

TEST(KanjiFastPath, SameBytesAsTheGeneralStepsAtEveryAlignment)
{
    const std::string text = mixedText();
    for (std::size_t shift = 0; shift < 48; ++shift) {
        SCOPED_TRACE(shift);
        const std::string input = std::string(shift, 'p') + text;
        const std::string fast = convertWith(input, true);
        const std::string general = convertWith(input, false);
        ASSERT_EQ(fast.size(), general.size());
        ASSERT_TRUE(fast == general);
    }
}

TEST(KanjiFastPath, TakesTheMixedTextAsExpected)
{
    // The text itself converts to what its parts give on their own.
    const std::string line = "\x1b$B$3(!\x1b(B \xA4\xB3\n";
    std::string input;
    std::string expected;
    for (int i = 0; i < 5000; ++i) {
        input += line;
        expected += kanji::sj("こ─ こ") + "\r\n";
    }
    EXPECT_TRUE(convertWith(input, true) == expected);
}

} // namespace

} // namespace orvalink::kanji
