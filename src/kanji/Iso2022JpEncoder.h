#pragma once

// Shift-JIS (code page 932) to ISO-2022-JP as RFC 1468 writes it for mail: ASCII as it is, each
// run of double-byte characters between ESC $ B and ESC ( B, and the text always ends in ASCII,
// so every line end stands in ASCII. Half-width katakana become their full-width forms (ｶﾞ -> ガ).
//
// What the code page holds beyond JIS X 0208 goes as the forms Japanese mail readers accept:
// the NEC special characters (lead byte 0x87) as JIS row 13, the NEC-selected IBM extensions
// (0xED, 0xEE) as rows 89-92, and the IBM extensions (0xFA-0xFC) as their NEC equivalents of
// those rows (or their JIS X 0208 twins, ￢ and ∵). Everything else that cannot be carried
// (user-defined characters, codes the code page leaves empty, a lead byte without its trail
// byte, and the bytes ESC, SO and SI, which would change the reader's state) becomes the geta
// mark 〓. The output is therefore always 7-bit, valid, and back in ASCII at its end.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orvalink::kanji {

// The JIS X 0208 code of 〓, written for what cannot be carried.
inline constexpr std::uint16_t kGetaMark = 0x222E;

// Output bytes per input byte at most (an ASCII byte followed by a lone half-width katakana
// writes ESC $ B, two bytes and ESC ( B).
inline constexpr std::size_t kIso2022JpGrowth = 8;

// Appends the ISO-2022-JP form of `sjis` to `out`.
void appendIso2022Jp(std::string_view sjis, std::string& out);
std::string toIso2022Jp(std::string_view sjis);

// The JIS code (row byte << 8 | cell byte) written for the Shift-JIS pair lead/trail, or 0 when
// the pair cannot be carried (then 〓 is written).
std::uint16_t iso2022JpCodeOf(std::uint8_t lead, std::uint8_t trail);

} // namespace orvalink::kanji
