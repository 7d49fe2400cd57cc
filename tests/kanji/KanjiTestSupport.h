#pragma once

// Helpers shared by the converter tests: glibc iconv as an independent second opinion, and a
// readable form of byte strings for failure messages.

#include "kanji/KanjiConverter.h"
#include "support/Iconv.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <string_view>

namespace orvalink::kanji {

using test::iconvBytes;
using test::sj;

// Converted with the options the mail filing uses: "-B -m -s".
inline std::string convert(std::string_view input)
{
    return KanjiConverter().convert(input);
}

inline std::string hex(std::string_view bytes)
{
    std::string out;
    char buf[8];
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

struct ConversionCase {
    const char* name;
    std::string input;
    std::string expected;
};

inline void PrintTo(const ConversionCase& c, std::ostream* os)
{
    *os << c.name;
}

inline std::string caseName(const ::testing::TestParamInfo<ConversionCase>& p)
{
    return p.param.name;
}

} // namespace orvalink::kanji
