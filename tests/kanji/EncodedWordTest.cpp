// RFC 2047 encoded words in the three forms the converter knows.
#include "kanji/KanjiTestSupport.h"

#include <gtest/gtest.h>
#include <string>

namespace orvalink::kanji {

using namespace std::string_literals;

namespace {

const std::string kTe = "=?ISO-2022-JP?B?GyRCJUYbKEI=?=";         // テ
const std::string kSuto = "=?ISO-2022-JP?B?GyRCJTklSBsoQg==?=";   // スト
const std::string kTesuto = "=?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?="; // テスト

class DecodesEncodedWords : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(DecodesEncodedWords, ToExactBytes)
{
    const ConversionCase& c = GetParam();
    EXPECT_EQ(hex(convert(c.input)), hex(c.expected));
}

// "=?ISO-2022-JP?B?" + groups "QUFB" (each "AAA") + "?=": 18 + 4 * groups bytes.
std::string wordOfGroups(std::size_t groups)
{
    std::string word = "=?ISO-2022-JP?B?";
    for (std::size_t i = 0; i < groups; ++i)
        word += "QUFB";
    return word + "?=";
}

const ConversionCase kWords[] = {
    {"BWord", "Subject: " + kTesuto + "\n", "Subject: " + sj("テスト") + "\r\n"},
    {"AdjacentBWordsJoined", kTe + " " + kSuto, sj("テスト")},
    {"AdjacentBWordsJoinedOverSeveralSpaces", kTe + "   " + kSuto + "\n", sj("テスト") + "\r\n"},
    {"SpaceAfterLastBWordDropped", "[" + kTe + " end]", "[" + sj("テ") + "end]"},
    {"TabAfterBWordKept", kTe + "\t" + kSuto, sj("テ") + "\t" + sj("スト")},
    {"LineBreakAfterBWordKept", kTe + "\n " + kSuto + "\n", sj("テ") + "\r\n " + sj("スト") + "\r\n"},
    {"LowerCasePattern", "=?iso-2022-jp?b?GyRCJUYlOSVIGyhC?=", sj("テスト")},
    {"MixedCasePattern", "=?Iso-2022-Jp?B?GyRCJUYlOSVIGyhC?=", sj("テスト")},
    {"FoldedBWordLeftAsText", "Subject: =?ISO-2022-JP?B?GyRCJUYl\n OSVIGyhC?=\n",
     "Subject: =?ISO-2022-JP?B?GyRCJUYl\r\n OSVIGyhC?=\r\n"},
    {"BWordBrokenBySpaceLeftAsText", "=?ISO-2022-JP?B?GyRC JUY?= x", "=?ISO-2022-JP?B?GyRC JUY?= x"},
    {"BWordBrokenByEndLeftAsText", "=?ISO-2022-JP?B?GyRCJUY", "=?ISO-2022-JP?B?GyRCJUY"},
    {"BWordBrokenByOtherCharacter", "=?ISO-2022-JP?B?GyRC-JUY?=", "=?ISO-2022-JP?B?GyRC-JUY?="},
    {"WordThatFitsTheQueue", wordOfGroups(251) + " x", std::string(753, 'A') + "x"},
    {"QueueOverflowLeftAsText", wordOfGroups(252) + " x", wordOfGroups(252) + " x"},
    {"QLatin1Word", "=?ISO-8859-1?Q?caf=E9?=", "caf\xE9"},
    {"QLatin1WordLowerHex", "=?ISO-8859-1?Q?caf=e9_au_lait?=", "caf\xE9 au lait"},
    {"QJisWord", "=?ISO-2022-JP?Q?=1B$B$3$s$K$A$O=1B(B?=", sj("こんにちは")},
    {"SpaceAfterQWordKept", "=?ISO-2022-JP?Q?=1B$B$3=1B(B?= x", sj("こ") + " x"},
    {"QuestionMarkInsideQWord", "=?ISO-8859-1?Q?a?b?"s + "?=c", "a?b?c"},
    {"QWordEndsAtLineBreak", "=?ISO-8859-1?Q?a=\nb", "a\r\nb"},
    {"NotAPattern", "=?UTF-8?B?w6k=?=", "=?UTF-8?B?w6k=?="},
    {"PatternCutShort", "=?ISO-2022-XX", "=?ISO-2022-XX"},
    {"PatternCutAtEnd", "=?ISO-2022", "=?ISO-2022"},
    {"EqualsNotFollowedByQuestionMark", "a=b ==?ISO-2022-JP?B?GyRCJUYbKEI=?=", "a=b =" + sj("テ")},
    // The word's end leaves kanji mode even when its text forgot the ESC ( B.
    {"WordWithoutFinalEscapeEndsInAscii", "=?ISO-2022-JP?B?GyRCJUY=?=ab", sj("テ") + "ab"},
    // A word that is never closed stops at the first space or control character.
    {"UnclosedQWordEndsAtSpace", "=?ISO-8859-1?Q?caf=E9 a_b=41?", "caf\xE9 a_b=41?"},
    {"QHexCutByLineBreak", "=?ISO-8859-1?Q?a=4\nb_c", "a\x40\r\nb_c"},
    // A "B" word whose closing "?=" falls inside a group of four ends there, not in the next line.
    {"MisalignedBWordEndsWithItsText", "=?ISO-2022-JP?B?GyRCJU?=\nDate: x", sj("ダ") + "\r\nDate: x"},
    {"KatakanaInsideBWord", "=?ISO-2022-JP?B?GyhJNl4bKEI=?=", sj("ガ")},
};
INSTANTIATE_TEST_SUITE_P(Words, DecodesEncodedWords, ::testing::ValuesIn(kWords), kanji::caseName);

// The queue holds 1024 bytes: a word of that length is checked whole, one byte more is not.
TEST(EncodedWordQueue, HoldsExactly1024Bytes)
{
    const std::string fits = wordOfGroups(251).insert(16 + 251 * 4, "QQ");
    const std::string tooLong = wordOfGroups(251).insert(16 + 251 * 4, "QQQ");
    ASSERT_EQ(fits.size(), 1024u);
    ASSERT_EQ(tooLong.size(), 1025u);
    EXPECT_EQ(convert(fits).substr(0, 753), std::string(753, 'A'));
    EXPECT_EQ(convert(tooLong), tooLong);
}

} // namespace

} // namespace orvalink::kanji
