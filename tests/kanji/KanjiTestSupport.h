#pragma once

// Helpers shared by the converter tests: glibc iconv as an independent second opinion, and a
// readable form of byte strings for failure messages.

#include "kanji/KanjiConverter.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <iconv.h>
#include <optional>
#include <string>
#include <string_view>

namespace orvalink::kanji {

// The whole of `bytes` converted, or nothing when iconv refuses any part of it.
inline std::optional<std::string> iconvBytes(const char* to, const char* from, std::string_view bytes)
{
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string out(bytes.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(bytes.data());
    std::size_t srcLeft = bytes.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    const std::size_t r = ::iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    const std::size_t r2 = r == static_cast<std::size_t>(-1) ? r : ::iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    ::iconv_close(cd);
    if (r2 == static_cast<std::size_t>(-1) || srcLeft != 0)
        return std::nullopt;
    out.resize(out.size() - dstLeft);
    return out;
}

// UTF-8 text as code page 932 bytes; only for texts that code page 932 holds.
inline std::string sj(std::string_view utf8)
{
    return iconvBytes("CP932", "UTF-8", utf8).value();
}

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
