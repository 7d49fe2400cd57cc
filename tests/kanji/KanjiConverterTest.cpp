// Whole conversions with exact output bytes: headers, bodies, katakana, line ends, and the
// behaviour chosen where the input is damaged.
#include "kanji/KanjiConverter.h"

#include "kanji/KanjiTestSupport.h"
#include "kanji/LineStore.h"

#include <gtest/gtest.h>
#include <string>

namespace orvalink::kanji {

using namespace std::string_literals;

namespace {

class ConvertsMessageText : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(ConvertsMessageText, ToExactBytes)
{
    const ConversionCase& c = GetParam();
    EXPECT_EQ(hex(convert(c.input)), hex(c.expected));
}

const ConversionCase kBasics[] = {
    {"SubjectBWord", "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\n", "Subject: " + sj("テスト") + "\r\n"},
    {"JisBody", "\x1b$B$3$s$K$A$O\x1b(B, world\n", sj("こんにちは") + ", world\r\n"},
    {"EscParenJIsAscii", "\x1b$B$3\x1b(Jab\n", sj("こ") + "ab\r\n"},
    {"EscParenHIsAscii", "\x1b$@$3\x1b(Hab", sj("こ") + "ab"},
    {"DollarBWithoutEscape", "a$B$3$s\x1b(Bz", "a" + sj("こん") + "z"},
    {"DollarAtWithoutEscape", "$@$3(Bz", sj("こ") + "z"},
    {"ParenBWithoutEscapeEndsKanji", "\x1b$B$3(Bz(Jy", sj("こ") + "z(Jy"},
    {"DollarNotFollowedByB", "US$5 and $$B$3", "US$5 and $" + sj("こ")},
    {"DollarAtEnd", "cost $", "cost $"},
    {"KatakanaEscParenI", "\x1b(I6^J_3^1\x1b(Bx", sj("ガパウ゛ア") + "x"},
    {"KatakanaShiftOutIn", "\x0e"s + "6^J_3^6" + "\x0f" + "x", sj("ガパウ゛カ") + "x"},
    {"KatakanaSemiVoicedMarkOnNonHa", "\x0e"s + "6_\x0f", sj("カ゜")},
    {"KatakanaMarksAlone", "\x0e"s + "^_\x0f", sj("゛゜")},
    {"LfLinesBecomeCrLf", "a\nb\n\nc\n", "a\r\nb\r\n\r\nc\r\n"},
    {"CrLfLinesStayCrLf", "a\r\nb\r\n\r\n", "a\r\nb\r\n\r\n"},
    {"LoneCrKept", "a\rb\r", "a\rb\r"},
    {"LastLineWithoutLineEnd", "a\nlast", "a\r\nlast"},
    {"EmptyInput", "", ""},
    {"TabAndControlsCopied", "a\tb\x01\x7f", "a\tb\x01\x7f"},
    {"ShiftInOutNeverWritten", "a\x0f"s + "b\x0e\x0f"s + "c", "abc"},
    {"EscapeAtEnd", "a\x1b", "a\x1b"},
    {"EscapeDollarAtEnd", "a\x1b$", "a\x1b$"},
    {"EscapeParenAtEnd", "a\x1b(", "a\x1b("},
    {"UnknownEscapeWrittenAsIs", "\x1b$Aa\x1b(Kb\x1bxc", "\x1b$Aa\x1b(Kb\x1bxc"},
    // The byte after an unknown sequence is read again: here it is a real escape.
    {"UnknownEscapeThenRealEscape", "\x1b\x1b$B$3\x1b(B", "\x1b" + sj("こ")},
};
INSTANTIATE_TEST_SUITE_P(Basics, ConvertsMessageText, ::testing::ValuesIn(kBasics), kanji::caseName);

// Where the input is damaged, nothing that is intact around the damage is lost.
const ConversionCase kDamaged[] = {
    // A kanji line cut after a first byte keeps its line break; the stray byte alone goes.
    {"StrayJisFirstByteBeforeLineBreak", "\x1b$B$3$\n\x1b(Babc", sj("こ") + "\r\nabc"},
    {"StrayShiftJisLeadBeforeLineBreak", "\x82\xB1\x82\nx", sj("こ") + "\r\nx"},
    {"StrayEucFirstByteBeforeLineBreak", "\xA4\xB3\xA4\nx", sj("こ") + "\r\nx"},
    // Row 8 box drawing in kanji mode: "(" is the first byte of a character, not an escape.
    {"BoxDrawingInKanjiMode", "\x1b$B(!(\"(+(B", sj("─│┼")},
    {"KanjiModeParenThenEnd", "\x1b$B(", "("},
    // An SS2 not followed by a katakana byte goes; the byte after it is read again.
    {"EucSs2WithoutKatakana", "\xA4\xB3\x8E\x8E\xB6\x8E\nx", sj("こカ") + "\r\nx"},
    // An encoded word that ends at a line break leaves the following text as it was.
    {"BrokenLatin1QWordEndsLatin1", "=?ISO-8859-1?Q?caf=E9=\n\xA4\xB3", "caf\xE9\r\n" + sj("こ")},
    {"BrokenJisQWordEndsKanji", "=?ISO-2022-JP?Q?=1B$B$3=\nab", sj("こ") + "\r\nab"},
};
INSTANTIATE_TEST_SUITE_P(Damaged, ConvertsMessageText, ::testing::ValuesIn(kDamaged), kanji::caseName);

TEST(KanjiConverterLongLines, LineLongerThanTheStoreIsWrittenWhole)
{
    for (std::size_t length : {kanji::LineStore::kCapacity - 2, kanji::LineStore::kCapacity - 1,
                               kanji::LineStore::kCapacity, kanji::LineStore::kCapacity + 1, std::size_t{25'001}}) {
        SCOPED_TRACE(length);
        std::string line(length, 'x');
        for (std::size_t i = 0; i < length; i += 7)
            line[i] = static_cast<char>('a' + i % 26);
        EXPECT_EQ(convert(line + "\nend"), line + "\r\nend");
        EXPECT_EQ(convert(line), line);
    }
}

TEST(KanjiConverterLongLines, LongKanjiLineIsWrittenWhole)
{
    // Pairs must not be split, whatever the store's fill when it runs full.
    std::string jis = "x\x1b$B";
    std::string expected = "x";
    for (int i = 0; i < 9000; ++i) {
        jis += "$\"";
        expected += sj("あ");
    }
    jis += "\x1b(B\n";
    expected += "\r\n";
    EXPECT_EQ(convert(jis), expected);
}

// Inputs built to make a converter re-read or re-scan: each must end, with the output within
// twice the input. A re-scan per byte would take hours on these 2 MB inputs.
TEST(KanjiConverterBounds, AdversarialInputsEndWithBoundedOutput)
{
    const std::string unitsOfWork[] = {
        "=?ISO-2022-JP?B?" + std::string(1100, 'A'),        // queue overflow, over and over
        "=?ISO-2022-JP?B?" + std::string(1000, 'A') + "=?", // broken just before the queue is full
        "=?ISO-2022-JP?Q?=?=?=?=?_?_=",                     // an open Q word
        "=?ISO-2022-J=?ISO-8859-1?Q",                       // patterns cut short
        "\xE0\xA1\xE0\xA1\xE0\xA1\x1b\xE0\xA1",             // holds cut by escapes
        "\x1b\x1b\x1b$\x1b(\x1b$B(((((\x0e^^^^\x0f",        // escapes and recovery
        "\x8E\x8E\x8E\xB6\x8E\x8E\xDE",                     // SS2 look-ahead put back
        "$$$$$B(B$@$",                                      // missing escapes
    };
    for (const std::string& unit : unitsOfWork) {
        std::string input;
        while (input.size() < 2'000'000)
            input += unit;
        SCOPED_TRACE(hex(unit));
        const std::string output = convert(input);
        EXPECT_LE(output.size(), 2 * input.size());
        EXPECT_GT(output.size(), 0u);
    }
}

TEST(KanjiConverterState, NothingCarriesOverBetweenConversions)
{
    const kanji::KanjiConverter converter;
    // Leaves kanji mode, a decided Shift-JIS decoder and an open encoded word behind.
    (void)converter.convert("\x1b$B$3 \x82\xB1 =?ISO-2022-JP?Q?=1B$B");
    EXPECT_EQ(hex(converter.convert("$3\xA4\xB3")), hex("$3" + sj("こ")));
}

TEST(KanjiConverterOptions, WithoutRecoveryDollarBIsText)
{
    kanji::KanjiConverter::Options options;
    options.recoverMissingEscapes = false;
    EXPECT_EQ(kanji::KanjiConverter(options).convert("a$B$3"), "a$B$3");
    EXPECT_EQ(hex(kanji::KanjiConverter(options).convert("\x1b$B(!\x1b(B")), hex(sj("─")));
}

TEST(KanjiConverterOptions, WithoutEncodedWordsPatternsAreText)
{
    kanji::KanjiConverter::Options options;
    options.decodeEncodedWords = false;
    EXPECT_EQ(kanji::KanjiConverter(options).convert("=?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?="),
              "=?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=");
}

} // namespace

} // namespace orvalink::kanji
