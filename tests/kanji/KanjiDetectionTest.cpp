// Detection of EUC-JP and Shift-JIS text that has no escapes, from its 8-bit bytes.
#include "kanji/KanjiTestSupport.h"

#include <gtest/gtest.h>
#include <string>

namespace orvalink::kanji {

using namespace std::string_literals;

namespace {

// 0xE0 0xA1 is EUC for the JIS code 0x6021 and Shift-JIS for 0x6023: the pair alone says neither.
const std::string kAmbiguous = "\xE0\xA1";
const std::string kAmbiguousAsEuc = "\xE0\x9F";
const std::string kAmbiguousAsShiftJis = "\xE0\xA1";
const std::string kEucKo = "\xA4\xB3";
const std::string kShiftJisKo = "\x82\xB1";

std::string repeat(const std::string& s, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

class DetectsCode : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(DetectsCode, FromTheBytes)
{
    const ConversionCase& c = GetParam();
    EXPECT_EQ(hex(convert(c.input)), hex(c.expected));
}

const ConversionCase kDetection[] = {
    {"EucWithoutEscapes", "Subject: " + *kanji::iconvBytes("EUC-JP", "UTF-8", "日本語のテキスト") + "\n",
     "Subject: " + sj("日本語のテキスト") + "\r\n"},
    {"ShiftJisWithoutEscapes", sj("日本語のテキスト") + "\n", sj("日本語のテキスト") + "\r\n"},
    {"ShiftJisSecondByteBelowA0", "\xE0\x40", "\xE0\x40"},
    {"AmbiguousSettledByEuc", kAmbiguous + "a" + kEucKo, kAmbiguousAsEuc + "a" + sj("こ")},
    {"AmbiguousSettledByShiftJis", kAmbiguous + "a" + kShiftJisKo, kAmbiguousAsShiftJis + "a" + sj("こ")},
    {"AmbiguousSettledBySecondByte", kAmbiguous + "\xE0\x80", kAmbiguousAsShiftJis + "\xE0\x80"},
    {"AmbiguousOnlyIsEuc", kAmbiguous + kAmbiguous + "\n", kAmbiguousAsEuc + kAmbiguousAsEuc + "\r\n"},
    {"ThirtyOnePairsThenShiftJis", repeat(kAmbiguous, 31) + kShiftJisKo, repeat(kAmbiguousAsShiftJis, 31) + sj("こ")},
    {"ThirtyTwoPairsFillTheHoldAsEuc", repeat(kAmbiguous, 32) + kShiftJisKo, repeat(kAmbiguousAsEuc, 32) + sj("こ")},
    {"ThirtyThirdPairStartsANewHold", repeat(kAmbiguous, 33) + kShiftJisKo,
     repeat(kAmbiguousAsEuc, 32) + kAmbiguousAsShiftJis + sj("こ")},
    {"HeldLineBreakKept", kAmbiguous + "\n" + kShiftJisKo, kAmbiguousAsShiftJis + "\r\n" + sj("こ")},
    // An escape ends the hold and keeps its meaning.
    {"EscapeEndsTheHold", kAmbiguous + "\x1b$B$3\x1b(B" + kShiftJisKo, kAmbiguousAsEuc + sj("こ") + sj("こ")},
    {"EncodedWordEndsTheHold", kAmbiguous + " =?ISO-2022-JP?B?GyRCJUYbKEI=?=", kAmbiguousAsEuc + " " + sj("テ")},
    // A first byte inside the hold whose next byte is below 0x40 is dropped, and that byte ends
    // the hold and is read again: it keeps its meaning instead of being written as data.
    {"SecondByteShiftInEndsTheHold", kAmbiguous + "\xE0\x0F" + "a", kAmbiguousAsEuc + "a"},
    {"SecondByteShiftOutEndsTheHold", kAmbiguous + "\xE0\x0E" + "1\x0F", kAmbiguousAsEuc + sj("ア")},
    {"SecondByteEscapeEndsTheHold", kAmbiguous + "\xE0\x1b$B$3\x1b(B", kAmbiguousAsEuc + sj("こ")},
    {"SecondByteEncodedWordEndsTheHold", kAmbiguous + "\xE5=?ISO-2022-JP?B?GyRCJUYbKEI=?=", kAmbiguousAsEuc + sj("テ")},
    {"SecondByteMissingEscapeEndsTheHold", kAmbiguous + "\xE0$B$3(B", kAmbiguousAsEuc + sj("こ")},
    {"SecondByteLineBreakKept", kAmbiguous + "\xE0\na", kAmbiguousAsEuc + "\r\na"},
    {"SettlingFirstByteThenEscape", kAmbiguous + "\xA4\x1b$B$3\x1b(B" + kShiftJisKo,
     kAmbiguousAsEuc + sj("こ") + sj("こ")},
    // Once decided, each first byte says which code it belongs to.
    {"ShiftJisThenEuc", kShiftJisKo + kEucKo + kShiftJisKo, sj("こここ")},
    {"EucThenShiftJis", kEucKo + kShiftJisKo + kEucKo, sj("こここ")},
    {"EucHalfWidthKatakana", "\xA4\xB3\x8E\xB6\x8E\xDE\x8E\xCA\x8E\xDF\x8E\xB3\x8E\xDE\x8E\xB1", sj("こガパウ゛ア")},
    {"EucKatakanaMarkThatDoesNotApply", "\xA4\xB3\x8E\xB1\x8E\xDE\x8E\xB6\x8E\xDF", sj("こア゛カ゜")},
    // An invalid pair is dropped and the next 8-bit byte detects again.
    // Here the ambiguous pair is held until the EUC pair settles it; still decided, it would have
    // been read as Shift-JIS at once.
    {"InvalidPairClearsTheDecision", kShiftJisKo + "\x82\xFF" + kAmbiguous + kEucKo,
     sj("こ") + kAmbiguousAsEuc + sj("こ")},
};
INSTANTIATE_TEST_SUITE_P(Detection, DetectsCode, ::testing::ValuesIn(kDetection), kanji::caseName);

} // namespace

} // namespace orvalink::kanji
