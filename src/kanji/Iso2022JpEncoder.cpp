#include "kanji/Iso2022JpEncoder.h"

#include "kanji/JisArithmetic_p.h"
#include "kanji/KatakanaTable_p.h"

#include <array>

namespace orvalink::kanji {

namespace {

constexpr std::uint8_t kEsc = 0x1B;
constexpr std::uint8_t kShiftOut = 0x0E;
constexpr std::uint8_t kShiftIn = 0x0F;

constexpr bool isLead(unsigned c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}
constexpr bool isTrail(unsigned c)
{
    return c >= 0x40 && c <= 0xFC && c != 0x7F;
}
// A byte copied straight through in ASCII mode.
constexpr bool isPlainAscii(unsigned c)
{
    return c < 0x80 && c != kEsc && c != kShiftOut && c != kShiftIn;
}

struct Range {
    std::uint8_t first;
    std::uint8_t last;
};

// The cells of a JIS row that code page 932 fills, as ranges of cell bytes.
constexpr bool cellDefined(int row, int cell)
{
    auto within = [cell](std::initializer_list<Range> ranges) {
        for (const Range& r : ranges)
            if (cell >= r.first && cell <= r.last)
                return true;
        return false;
    };
    switch (row) {
    case 0x21:
        return true;
    case 0x22:
        return within({{0x21, 0x2E}, {0x3A, 0x41}, {0x4A, 0x50}, {0x5C, 0x6A}, {0x72, 0x79}, {0x7E, 0x7E}});
    case 0x23:
        return within({{0x30, 0x39}, {0x41, 0x5A}, {0x61, 0x7A}});
    case 0x24:
        return cell <= 0x73;
    case 0x25:
        return cell <= 0x76;
    case 0x26:
        return within({{0x21, 0x38}, {0x41, 0x58}});
    case 0x27:
        return within({{0x21, 0x41}, {0x51, 0x71}});
    case 0x28:
        return cell <= 0x40;
    case 0x2D: // NEC special characters
        return within({{0x21, 0x3E}, {0x40, 0x56}, {0x5F, 0x7C}});
    case 0x4F:
        return cell <= 0x53;
    case 0x74:
        return cell <= 0x26;
    case 0x7C: // the last row of the NEC-selected IBM extensions
        return within({{0x21, 0x6E}, {0x71, 0x7E}});
    default:
        return (row >= 0x30 && row <= 0x73) || (row >= 0x79 && row <= 0x7B);
    }
}

constexpr int leadIndex(unsigned lead)
{
    return lead < 0xA0 ? static_cast<int>(lead) - 0x81 : static_cast<int>(lead) - 0xE0 + 31;
}
constexpr int kLeads = 60;
constexpr int kTrails = 0xFD - 0x40;

constexpr std::uint16_t jisOf(unsigned lead, unsigned trail)
{
    const BytePair j = shiftJisToJis(static_cast<int>(lead), static_cast<int>(trail));
    return static_cast<std::uint16_t>(j.first << 8 | j.second);
}

// The IBM extensions 0xFA40-0xFC4B as the code page's own preferred twins.
constexpr std::uint16_t ibmExtension(unsigned lead, unsigned trail)
{
    // Position within a run of lead bytes, 188 trail bytes each (0x7F is no trail byte).
    const int pos = (static_cast<int>(lead) - 0xFA) * 188 + static_cast<int>(trail) - 0x40 - (trail > 0x7F ? 1 : 0);
    if (pos <= 9) // small roman numerals
        return jisOf(0xEE, 0xEF + static_cast<unsigned>(pos));
    if (pos <= 19) // roman numerals
        return jisOf(0x87, 0x54 + static_cast<unsigned>(pos - 10));
    switch (pos) {
    case 20:
        return jisOf(0x81, 0xCA); // ￢
    case 21:
        return jisOf(0xEE, 0xFA); // ￤
    case 22:
        return jisOf(0xEE, 0xFB); // ＇
    case 23:
        return jisOf(0xEE, 0xFC); // ＂
    case 24:
        return jisOf(0x87, 0x8A); // ㈱
    case 25:
        return jisOf(0x87, 0x82); // №
    case 26:
        return jisOf(0x87, 0x84); // ℡
    case 27:
        return jisOf(0x81, 0xE6); // ∵
    default:
        break;
    }
    // The 360 kanji, in the same order as the NEC-selected copy from 0xED40.
    const int nec = pos - 28;
    if (nec >= 360)
        return 0;
    const int necLead = 0xED + nec / 188;
    const int cell = nec % 188;
    const int necTrail = cell < 63 ? 0x40 + cell : 0x80 + cell - 63;
    return jisOf(static_cast<unsigned>(necLead), static_cast<unsigned>(necTrail));
}

constexpr std::uint16_t codeFor(unsigned lead, unsigned trail)
{
    if (lead >= 0xFA)
        return ibmExtension(lead, trail);
    if (lead >= 0xF0) // user-defined characters
        return 0;
    const std::uint16_t jis = jisOf(lead, trail);
    return cellDefined(jis >> 8, jis & 0xFF) ? jis : 0;
}

using CodeTable = std::array<std::uint16_t, kLeads * kTrails>;

constexpr CodeTable makeTable()
{
    CodeTable table{};
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
        if (!isLead(lead))
            continue;
        for (unsigned trail = 0x40; trail <= 0xFC; ++trail)
            if (isTrail(trail))
                table[static_cast<std::size_t>(leadIndex(lead) * kTrails + static_cast<int>(trail) - 0x40)] =
                    codeFor(lead, trail);
    }
    return table;
}

constexpr CodeTable kTable = makeTable();

// Input is taken in blocks so that the output can be written through a plain pointer into a
// buffer that is large enough for the worst case of a block.
constexpr std::size_t kBlock = 4096;

} // namespace

std::uint16_t iso2022JpCodeOf(std::uint8_t lead, std::uint8_t trail)
{
    if (!isLead(lead) || !isTrail(trail))
        return 0;
    return kTable[static_cast<std::size_t>(leadIndex(lead) * kTrails + trail - 0x40)];
}

void appendIso2022Jp(std::string_view sjis, std::string& out)
{
    const auto* p = reinterpret_cast<const std::uint8_t*>(sjis.data());
    const std::size_t n = sjis.size();
    std::array<char, kBlock * kIso2022JpGrowth + 8> buffer;
    bool kanjiMode = false;
    std::size_t i = 0;
    out.reserve(out.size() + n + n / 2 + 8);
    while (i < n) {
        // A block ends at most one character past kBlock input bytes: a pair or a katakana and its
        // mark may step over the boundary by one byte.
        const std::size_t blockEnd = n - i > kBlock ? i + kBlock : n;
        char* w = buffer.data();
        while (i < blockEnd) {
            const unsigned c = p[i];
            if (isPlainAscii(c)) {
                if (kanjiMode) {
                    *w++ = static_cast<char>(kEsc);
                    *w++ = '(';
                    *w++ = 'B';
                    kanjiMode = false;
                }
                do
                    *w++ = static_cast<char>(p[i++]);
                while (i < blockEnd && isPlainAscii(p[i]));
                continue;
            }
            std::uint16_t code = 0;
            if (c >= 0xA1 && c <= 0xDF) {
                ++i;
                if (i < n && p[i] == 0xDE && KatakanaTable::voiced(static_cast<int>(c)) != 0) {
                    code = KatakanaTable::voiced(static_cast<int>(c));
                    ++i;
                } else if (i < n && p[i] == 0xDF && KatakanaTable::semiVoiced(static_cast<int>(c)) != 0) {
                    code = KatakanaTable::semiVoiced(static_cast<int>(c));
                    ++i;
                } else {
                    code = KatakanaTable::plain(static_cast<int>(c));
                }
            } else if (isLead(c) && i + 1 < n && isTrail(p[i + 1])) {
                code = kTable[static_cast<std::size_t>(leadIndex(c) * kTrails + p[i + 1] - 0x40)];
                i += 2;
            } else {
                // A byte the code page does not start a character with, a lead byte whose next
                // byte cannot follow it (that byte is kept and read on its own), ESC, SO or SI.
                ++i;
            }
            if (code == 0)
                code = kGetaMark;
            if (!kanjiMode) {
                *w++ = static_cast<char>(kEsc);
                *w++ = '$';
                *w++ = 'B';
                kanjiMode = true;
            }
            *w++ = static_cast<char>(code >> 8);
            *w++ = static_cast<char>(code & 0xFF);
        }
        out.append(buffer.data(), static_cast<std::size_t>(w - buffer.data()));
    }
    if (kanjiMode)
        out.append("\x1B(B", 3);
}

std::string toIso2022Jp(std::string_view sjis)
{
    std::string out;
    appendIso2022Jp(sjis, out);
    return out;
}

} // namespace orvalink::kanji
