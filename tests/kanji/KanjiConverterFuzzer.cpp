// Any bytes at all: the conversion ends, its output stays within twice the input (a line break
// becomes CR LF and a half-width katakana byte a full-width pair; nothing grows more), every LF
// in it follows a CR, the fast path gives the same bytes as the general steps alone, no SI is ever
// written and no ESC that began a designation.
#include "kanji/Conversion.h"
#include "kanji/KanjiConverter.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

namespace orvalink::kanji {

namespace {

std::string convertWith(std::string_view input, const kanji::KanjiConverter::Options& options, bool fastPath)
{
    std::string output;
    auto in = std::make_unique<kanji::InputReader>(input);
    auto out = std::make_unique<kanji::LineStore>(output);
    kanji::Conversion(*in, *out, options, fastPath).run();
    out->finish();
    return output;
}

// ESC bytes of the input that do not start ESC $ @, ESC $ B, ESC ( B, ESC ( J, ESC ( H or ESC ( I.
std::ptrdiff_t undesignatingEscapes(std::string_view input)
{
    std::ptrdiff_t count = 0;
    for (std::size_t i = 0; i < input.size(); ++i) {
        if (input[i] != '\x1b')
            continue;
        const std::string_view next = input.substr(i + 1, 2);
        const bool designation =
            next == "$@" || next == "$B" || next == "(B" || next == "(J" || next == "(H" || next == "(I";
        if (!designation)
            ++count;
    }
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    kanji::KanjiConverter::Options options;
    for (int variant = 0; variant < 2; ++variant) {
        if (variant == 1) {
            // The other option settings, chosen by the input so that all of them are reached.
            options.recoverMissingEscapes = (size & 1) != 0;
            options.decodeEncodedWords = (size & 2) != 0;
        }
        const std::string output = kanji::KanjiConverter(options).convert(input);
        if (output.size() > 2 * size)
            std::abort();
        for (std::size_t i = 0; i < output.size(); ++i)
            if (output[i] == '\n' && (i == 0 || output[i - 1] != '\r'))
                std::abort();
        if (convertWith(input, options, true) != output || convertWith(input, options, false) != output)
            std::abort();
        // A shift or an escape is never data: SI is always taken, and an ESC is written only where
        // the input had one that starts no designation (an encoded word can decode to further
        // ones, so that count holds only where none can start).
        if (output.find('\x0F') != std::string::npos)
            std::abort();
        if (!options.decodeEncodedWords || input.find("=?") == std::string_view::npos) {
            if (std::count(output.begin(), output.end(), '\x1b') != undesignatingEscapes(input))
                std::abort();
        }
    }
    return 0;
}

} // namespace orvalink::kanji
