#pragma once

// Full-width forms of the JIS X 0201 katakana bytes 0xA0-0xDF, as JIS X 0208 codes. 0xA0 gives
// the ideographic space; 0xDE and 0xDF are the voiced and semi-voiced marks themselves.

#include <cstdint>

namespace orvalink::kanji {

class KatakanaTable {
public:
    static constexpr int kFirst = 0xA0;
    static constexpr int kLast = 0xDF;

    static constexpr std::uint16_t plain(int k) { return kPlain[k - kFirst]; }
    // The voiced form (ｶﾞ -> ガ), or 0 when the character has none (ｳ has none: ｳﾞ is ウ ゛).
    static constexpr std::uint16_t voiced(int k) { return kVoiced[k - kFirst]; }
    // The semi-voiced form (ﾊﾟ -> パ), or 0.
    static constexpr std::uint16_t semiVoiced(int k) { return kSemiVoiced[k - kFirst]; }

private:
    // clang-format off
    static constexpr std::uint16_t kPlain[64] = {
        0x2121, 0x2123, 0x2156, 0x2157, 0x2122, 0x2126, 0x2572, 0x2521, // 　。「」、・ヲァ
        0x2523, 0x2525, 0x2527, 0x2529, 0x2563, 0x2565, 0x2567, 0x2543, // ィゥェォャュョッ
        0x213C, 0x2522, 0x2524, 0x2526, 0x2528, 0x252A, 0x252B, 0x252D, // ーアイウエオカキ
        0x252F, 0x2531, 0x2533, 0x2535, 0x2537, 0x2539, 0x253B, 0x253D, // クケコサシスセソ
        0x253F, 0x2541, 0x2544, 0x2546, 0x2548, 0x254A, 0x254B, 0x254C, // タチツテトナニヌ
        0x254D, 0x254E, 0x254F, 0x2552, 0x2555, 0x2558, 0x255B, 0x255E, // ネノハヒフヘホマ
        0x255F, 0x2560, 0x2561, 0x2562, 0x2564, 0x2566, 0x2568, 0x2569, // ミムメモヤユヨラ
        0x256A, 0x256B, 0x256C, 0x256D, 0x256F, 0x2573, 0x212B, 0x212C, // リルレロワン゛゜
    };
    // ガギグゲゴ ザジズゼゾ ダヂヅデド バビブベボ: each one above its plain form.
    static constexpr std::uint16_t kVoiced[64] = {
        0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0x252C, 0x252E,
        0x2530, 0x2532, 0x2534, 0x2536, 0x2538, 0x253A, 0x253C, 0x253E,
        0x2540, 0x2542, 0x2545, 0x2547, 0x2549, 0, 0, 0,
        0, 0, 0x2550, 0x2553, 0x2556, 0x2559, 0x255C, 0,
        0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0,
    };
    // パピプペポ: two above the plain form.
    static constexpr std::uint16_t kSemiVoiced[64] = {
        0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0x2551, 0x2554, 0x2557, 0x255A, 0x255D, 0,
        0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0,
    };
    // clang-format on
};

} // namespace orvalink::kanji
