// Any bytes at all as Shift-JIS: the encoder writes only valid ISO-2022-JP (7-bit, escapes only
// to JIS X 0208 and back to ASCII, pairs within rows and cells, no line end or control byte in a
// kanji run, back in ASCII at the end), within its size bound, and our converter reads it back
// without dropping a character.
#include "kanji/Iso2022JpEncoder.h"
#include "kanji/KanjiConverter.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace orvalink::kanji {

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string out = kanji::toIso2022Jp(input);
    if (out.size() > size * kanji::kIso2022JpGrowth + 3)
        std::abort();
    bool kanjiMode = false;
    std::size_t pairs = 0;
    std::string kanjiOnly; // the kanji runs alone, escapes included
    for (std::size_t i = 0; i < out.size();) {
        const auto c = static_cast<unsigned char>(out[i]);
        if (c >= 0x80)
            std::abort();
        if (c == 0x1B) {
            const std::string_view esc = std::string_view(out).substr(i, 3);
            if (esc == "\x1B$B" && !kanjiMode)
                kanjiMode = true;
            else if (esc == "\x1B(B" && kanjiMode)
                kanjiMode = false;
            else
                std::abort();
            i += 3;
            continue;
        }
        if (c == 0x0E || c == 0x0F)
            std::abort();
        if (kanjiMode) {
            if (i + 1 >= out.size())
                std::abort();
            const auto c2 = static_cast<unsigned char>(out[i + 1]);
            if (c < 0x21 || c > 0x7E || c2 < 0x21 || c2 > 0x7E)
                std::abort();
            ++pairs;
            kanjiOnly += "\x1B$B";
            kanjiOnly.append(out, i, 2);
            kanjiOnly += "\x1B(B";
            i += 2;
        } else {
            ++i;
        }
    }
    if (kanjiMode)
        std::abort();
    // Every pair comes back from the receiving converter as one Shift-JIS character.
    const std::string back = kanji::KanjiConverter().convert(kanjiOnly);
    if (back.size() != 2 * pairs)
        std::abort();
    for (std::size_t i = 0; i < back.size(); i += 2) {
        const auto lead = static_cast<unsigned char>(back[i]);
        if (!((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xEF)))
            std::abort();
    }
    return 0;
}

} // namespace orvalink::kanji
