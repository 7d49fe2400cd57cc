// Any bytes at all: the conversion ends, and its output stays within twice the input (a line
// break becomes CR LF and a half-width katakana byte a full-width pair; nothing grows more).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "kanji/KanjiConverter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    kanji::KanjiConverter::Options options;
    const std::string output = kanji::KanjiConverter(options).convert(input);
    if (output.size() > 2 * size)
        std::abort();
    // The output is code page 932 text with CR LF line ends: every LF follows a CR.
    for (std::size_t i = 0; i < output.size(); ++i)
        if (output[i] == '\n' && (i == 0 || output[i - 1] != '\r'))
            std::abort();
    // Without recovery or encoded words the same bounds hold.
    options.recoverMissingEscapes = (size & 1) != 0;
    options.decodeEncodedWords = (size & 2) != 0;
    if (kanji::KanjiConverter(options).convert(input).size() > 2 * size)
        std::abort();
    return 0;
}
