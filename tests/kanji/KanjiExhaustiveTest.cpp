// Every JIS X 0208 cell in its three input forms, and every half-width katakana in its three
// forms with and without marks, against expectations computed here independently of the
// converter (row/cell arithmetic, Unicode, and glibc iconv as a second opinion).
#include "kanji/KanjiTestSupport.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace orvalink::kanji {

namespace {

struct Cell {
    int row;  // 1-84
    int cell; // 1-94
};

// Shift-JIS from row and cell: two rows share a first byte; odd rows take the lower half of the
// second-byte range (skipping 0x7F), even rows the upper half.
std::string shiftJisOf(Cell c)
{
    const int s1 = c.row <= 62 ? (c.row + 0x101) / 2 : (c.row + 0x181) / 2;
    int s2;
    if (c.row % 2 == 1)
        s2 = c.cell + (c.cell <= 63 ? 0x3F : 0x40);
    else
        s2 = c.cell + 0x9E;
    return {static_cast<char>(s1), static_cast<char>(s2)};
}

std::string jisOf(Cell c)
{
    return {static_cast<char>(c.row + 0x20), static_cast<char>(c.cell + 0x20)};
}

std::string eucOf(Cell c)
{
    return {static_cast<char>(c.row + 0xA0), static_cast<char>(c.cell + 0xA0)};
}

// "(B", "(J" and "(H" in kanji mode are the missing-escape forms of ESC ( B, ESC ( J, ESC ( H;
// JIS X 0208 leaves those row 8 cells unassigned.
bool isRecoverySequence(Cell c)
{
    return c.row == 8 && (c.cell == 34 || c.cell == 42 || c.cell == 40);
}

std::vector<Cell> allCells()
{
    std::vector<Cell> cells;
    for (int row = 1; row <= 84; ++row)
        for (int cell = 1; cell <= 94; ++cell)
            cells.push_back({row, cell});
    return cells;
}

TEST(JisX0208Exhaustive, RowCellArithmeticAgreesWithIconvWhereDefined)
{
    // The expectation itself is checked against glibc: for every cell that both EUC-JP and
    // Shift_JIS define there, the two must give our Shift-JIS bytes.
    int agreed = 0;
    for (const Cell c : allCells()) {
        const auto viaIconv = iconvBytes("SHIFT_JIS", "EUC-JP", eucOf(c));
        if (!viaIconv)
            continue;
        EXPECT_EQ(hex(*viaIconv), hex(shiftJisOf(c))) << "row " << c.row << " cell " << c.cell;
        ++agreed;
    }
    EXPECT_GE(agreed, 6879); // the characters of JIS X 0208
}

TEST(JisX0208Exhaustive, IsoJisEveryCell)
{
    std::string all = "\x1b$B";
    std::string allExpected;
    for (const Cell c : allCells()) {
        if (isRecoverySequence(c))
            continue;
        const std::string expected = shiftJisOf(c);
        ASSERT_EQ(hex(convert("\x1b$B" + jisOf(c) + "\x1b(B\n")), hex(expected + "\r\n"))
            << "row " << c.row << " cell " << c.cell;
        all += jisOf(c);
        allExpected += expected;
    }
    EXPECT_EQ(convert(all + "\x1b(B"), allExpected);
}

TEST(JisX0208Exhaustive, EucEveryCell)
{
    std::string all;
    std::string allExpected;
    for (const Cell c : allCells()) {
        const std::string expected = shiftJisOf(c);
        ASSERT_EQ(hex(convert(eucOf(c) + "\n")), hex(expected + "\r\n")) << "row " << c.row << " cell " << c.cell;
        all += eucOf(c);
        allExpected += expected;
    }
    EXPECT_EQ(convert(all), allExpected);
}

TEST(JisX0208Exhaustive, ShiftJisEveryCell)
{
    // A Shift-JIS pair decides the code by itself unless both bytes also read as EUC (first byte
    // 0xE0 or above, second above 0xA0); such a pair is read as Shift-JIS once the text has
    // settled the code, here by a leading あ.
    const std::string settle = sj("あ");
    std::string all = settle;
    std::string allExpected = settle;
    for (const Cell c : allCells()) {
        const std::string in = shiftJisOf(c);
        const std::string expected = shiftJisOf(c);
        const bool decidesAlone = static_cast<unsigned char>(in[0]) < 0xA0 || static_cast<unsigned char>(in[1]) <= 0xA0;
        if (decidesAlone) {
            ASSERT_EQ(hex(convert(in + "\n")), hex(expected + "\r\n")) << "row " << c.row << " cell " << c.cell;
        }
        ASSERT_EQ(hex(convert(settle + in)), hex(settle + expected)) << "row " << c.row << " cell " << c.cell;
        all += in;
        allExpected += expected;
    }
    EXPECT_EQ(convert(all), allExpected);
}

// ---- half-width katakana -----------------------------------------------------------------------

// U+FF61-U+FF9F in order, and their full-width forms.
const char* const kHalfWidth = "｡｢｣､･ｦｧｨｩｪｫｬｭｮｯｰｱｲｳｴｵｶｷｸｹｺｻｼｽｾｿﾀﾁﾂﾃﾄﾅﾆﾇﾈﾉﾊﾋﾌﾍﾎﾏﾐﾑﾒﾓﾔﾕﾖﾗﾘﾙﾚﾛﾜﾝﾞﾟ";
const char* const kFullWidth = "。「」、・ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノハヒ"
                               "フヘホマミムメモヤユヨラリルレロワン゛゜";

std::u32string utf32(const std::string& utf8)
{
    const std::string bytes = iconvBytes("UTF-32LE", "UTF-8", utf8).value();
    std::u32string out;
    for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) {
        char32_t ch = 0;
        for (int k = 3; k >= 0; --k)
            ch = ch << 8 | static_cast<unsigned char>(bytes[i + k]);
        out += ch;
    }
    return out;
}

std::string utf8(char32_t ch)
{
    std::string le;
    for (int k = 0; k < 4; ++k)
        le += static_cast<char>(ch >> (8 * k) & 0xFF);
    return iconvBytes("UTF-8", "UTF-32LE", le).value();
}

enum class Mark { None, Voiced, SemiVoiced };

// Full-width katakana with a voiced form have it at the next code point (カ ガ), those with a
// semi-voiced form at the one after (ハ バ パ). ウ is left out: ｳﾞ stays ウ followed by ゛.
std::string expectedFullWidth(char32_t full, Mark mark)
{
    static const std::u32string voicedBases = utf32("カキクケコサシスセソタチツテトハヒフヘホ");
    static const std::u32string semiVoicedBases = utf32("ハヒフヘホ");
    if (mark == Mark::Voiced)
        return voicedBases.find(full) != std::u32string::npos ? sj(utf8(full + 1)) : sj(utf8(full) + "゛");
    if (mark == Mark::SemiVoiced)
        return semiVoicedBases.find(full) != std::u32string::npos ? sj(utf8(full + 2)) : sj(utf8(full) + "゜");
    return sj(utf8(full));
}

TEST(HalfWidthKatakanaExhaustive, EveryFormWithAndWithoutMarks)
{
    const std::u32string half = utf32(kHalfWidth);
    const std::u32string full = utf32(kFullWidth);
    ASSERT_EQ(half.size(), 63u);
    ASSERT_EQ(full.size(), 63u);
    int checked = 0;
    for (std::size_t i = 0; i < half.size(); ++i) {
        // The JIS X 0201 byte, taken from glibc's EUC-JP (SS2 followed by the byte).
        const std::string euc = iconvBytes("EUC-JP", "UTF-8", utf8(half[i])).value();
        ASSERT_EQ(euc.size(), 2u);
        ASSERT_EQ(static_cast<unsigned char>(euc[0]), 0x8E);
        const char k = euc[1];
        const char seven = static_cast<char>(k & 0x7F);
        for (const Mark mark : {Mark::None, Mark::Voiced, Mark::SemiVoiced}) {
            const std::string sevenMark = mark == Mark::None ? "" : mark == Mark::Voiced ? "^" : "_";
            const std::string eucMark = mark == Mark::None ? "" : mark == Mark::Voiced ? "\x8E\xDE" : "\x8E\xDF";
            const std::string expected = expectedFullWidth(full[i], mark);
            SCOPED_TRACE(utf8(half[i]) + " mark " + std::to_string(static_cast<int>(mark)));
            EXPECT_EQ(hex(convert("\x0e" + std::string(1, seven) + sevenMark + "\x0f")), hex(expected));
            EXPECT_EQ(hex(convert("\x1b(I" + std::string(1, seven) + sevenMark + "\x1b(B")), hex(expected));
            // EUC needs the code settled first: SS2 is EUC only once the text is EUC.
            EXPECT_EQ(hex(convert("\xA4\xA2\x8E" + std::string(1, k) + eucMark)), hex(sj("あ") + expected));
            ++checked;
        }
    }
    EXPECT_EQ(checked, 63 * 3);
    // 0xA0 has no 7-bit form; after SS2 it is the ideographic space.
    EXPECT_EQ(hex(convert("\xA4\xA2\x8E\xA0")), hex(sj("あ　")));
}

} // namespace

} // namespace orvalink::kanji
