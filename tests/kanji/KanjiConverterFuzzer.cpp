// Any bytes at all: the conversion ends, its output stays within twice the input (a line break
// becomes CR LF and a half-width katakana byte a full-width pair; nothing grows more), every LF
// in it follows a CR, and the fast path gives the same bytes as the general steps alone.
#include "kanji/Conversion.h"
#include "kanji/KanjiConverter.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

namespace {

std::string convertWith(std::string_view input, const kanji::KanjiConverter::Options& options, bool fastPath) {
    std::string output;
    auto in = std::make_unique<kanji::InputReader>(input);
    auto out = std::make_unique<kanji::LineStore>(output);
    kanji::Conversion(*in, *out, options, fastPath).run();
    out->finish();
    return output;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
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
    }
    return 0;
}
