// Shift-JIS -> ISO-2022-JP for outgoing mail: the written forms, what cannot be carried, and every
// double-byte code of the code page against our own converter (the receiving side) and glibc.
#include "kanji/Iso2022JpEncoder.h"

#include "kanji/KanjiTestSupport.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace orvalink::kanji {

namespace {

const std::string kIn = "\x1B$B";
const std::string kOut = "\x1B(B";
const std::string kGeta = kIn + "\x22\x2E" + kOut;

struct EncodeCase {
    const char* name;
    std::string input;
    std::string expected;
};

void PrintTo(const EncodeCase& c, std::ostream* os)
{
    *os << c.name;
}

class EncodeForms : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeForms, WritesTheExpectedBytes)
{
    EXPECT_EQ(hex(kanji::toIso2022Jp(GetParam().input)), hex(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Iso2022Jp, EncodeForms,
    ::testing::Values(EncodeCase{"Empty", "", ""},
                      EncodeCase{"AsciiUnchanged", "Hello, world.\r\n$B (B ~\\", "Hello, world.\r\n$B (B ~\\"},
                      EncodeCase{"KanjiRunBetweenEscapes", sj("漢字"), kIn + "\x34\x41\x3B\x7A" + kOut},
                      EncodeCase{"BackToAsciiBeforeEveryLineEnd", sj("あ\r\nい"),
                                 kIn + "\x24\x22" + kOut + "\r\n" + kIn + "\x24\x24" + kOut},
                      EncodeCase{"OneSwitchPerRun", sj("aかなb"), "a" + kIn + "\x24\x2B\x24\x4A" + kOut + "b"},
                      EncodeCase{"HalfWidthKatakanaFullWidth", sj("ｱｲ"), kIn + "\x25\x22\x25\x24" + kOut},
                      EncodeCase{"HalfWidthVoicedJoined", sj("ｶﾞﾊﾟ"), kIn + "\x25\x2C\x25\x51" + kOut},
                      EncodeCase{"HalfWidthUWithMarkStaysTwo", sj("ｳﾞ"), kIn + "\x25\x26\x21\x2B" + kOut},
                      EncodeCase{"HalfWidthPunctuation", sj("｡｢｣､･ｰ"),
                                 kIn + "\x21\x23\x21\x56\x21\x57\x21\x22\x21\x26\x21\x3C" + kOut},
                      EncodeCase{"NecSpecialAsRow13", sj("①㈱"), kIn + "\x2D\x21\x2D\x6A" + kOut},
                      EncodeCase{"NecSelectedAsRow89", "\xED\x40", kIn + "\x79\x21" + kOut},
                      EncodeCase{"IbmKanjiAsNecSelected", "\xFA\x5C", kIn + "\x79\x21" + kOut},
                      EncodeCase{"IbmLastKanjiAsNecSelected", "\xFC\x4B", kIn + "\x7C\x6E" + kOut},
                      EncodeCase{"IbmRomanNumeralAsRow13", "\xFA\x4A", kIn + "\x2D\x35" + kOut},
                      EncodeCase{"IbmSmallRomanAsNecSelected", "\xFA\x40", kIn + "\x7C\x71" + kOut},
                      EncodeCase{"IbmNotSignAsJisTwin", "\xFA\x54", kIn + "\x22\x4C" + kOut},
                      EncodeCase{"IbmBecauseAsJisTwin", "\xFA\x5B", kIn + "\x22\x68" + kOut},
                      EncodeCase{"UserDefinedIsGeta", "\xF0\x40", kGeta},
                      EncodeCase{"EmptyCellIsGeta", "\x85\x40", kGeta},
                      EncodeCase{"LoneLeadAtEndIsGeta", "a\x88", "a" + kGeta},
                      EncodeCase{"LeadBeforeAsciiKeepsTheAscii", "\x88\x0D\x0A", kGeta + "\r\n"},
                      EncodeCase{"StrayBytesAreGeta", "\x80\xA0\xFD\xFE\xFF",
                                 kIn + "\x22\x2E\x22\x2E\x22\x2E\x22\x2E\x22\x2E" + kOut},
                      EncodeCase{"EscapeShiftBytesNeverPassThrough", "a\x1B(Ib\x0E\x0F",
                                 "a" + kGeta + "(Ib" + kIn + "\x22\x2E\x22\x2E" + kOut}),
    [](const ::testing::TestParamInfo<EncodeCase>& p) { return std::string(p.param.name); });

std::string pair(unsigned lead, unsigned trail)
{
    return {static_cast<char>(lead), static_cast<char>(trail)};
}

bool isLead(unsigned c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Every pair the code page defines is carried (never 〓), and exactly those; every pair outside the
// IBM rows comes back from our converter as itself, and every IBM pair as a twin that glibc reads
// as the same character.
TEST(Iso2022JpExhaustive, EveryCodePageCharacterIsCarriedAndComesBack)
{
    int carried = 0;
    int jisX0208 = 0;
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
        if (!isLead(lead))
            continue;
        for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail == 0x7F)
                continue;
            const std::string in = pair(lead, trail);
            const auto unicode = iconvBytes("UTF-32LE", "CP932", in);
            const bool userDefined = lead >= 0xF0 && lead <= 0xF9;
            const bool defined = unicode.has_value() && !userDefined;
            const std::uint16_t code =
                kanji::iso2022JpCodeOf(static_cast<std::uint8_t>(lead), static_cast<std::uint8_t>(trail));
            ASSERT_EQ(code != 0, defined) << hex(in);
            const std::string out = kanji::toIso2022Jp(in);
            if (!defined) {
                ASSERT_EQ(out, kGeta) << hex(in);
                continue;
            }
            ++carried;
            const std::string back = convert(out);
            if (lead >= 0xFA) {
                ASSERT_EQ(iconvBytes("UTF-32LE", "CP932", back), unicode) << hex(in) << " came back as " << hex(back);
                continue;
            }
            ASSERT_EQ(hex(back), hex(in));
            // JIS X 0208 proper (not rows 13 and 89-92) is what plain ISO-2022-JP readers know.
            const int row = code >> 8;
            if (row != 0x2D && row < 0x79) {
                ++jisX0208;
                ASSERT_TRUE(iconvBytes("UTF-8", "ISO-2022-JP", out).has_value()) << hex(in);
            }
        }
    }
    EXPECT_EQ(jisX0208, 6879);
    EXPECT_EQ(carried, 6879 + 83 + 374 + 388);
}

TEST(Iso2022Jp, OutputIsSevenBitAndEndsInAscii)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        for (int c = 0; c < 256; c += 7)
            all += pair(static_cast<unsigned>(b), static_cast<unsigned>(c));
    const std::string out = kanji::toIso2022Jp(all);
    for (char c : out)
        ASSERT_LT(static_cast<unsigned char>(c), 0x80);
    EXPECT_LE(out.size(), all.size() * kanji::kIso2022JpGrowth);
    ASSERT_GE(out.size(), 3u);
    EXPECT_EQ(out.substr(out.size() - 3), kOut);
}

} // namespace

} // namespace orvalink::kanji
