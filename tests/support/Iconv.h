#pragma once

// The C library's converter as an independent second opinion on our own conversions.

#include <iconv.h>
#include <optional>
#include <string>
#include <string_view>

namespace orvalink::test {

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

} // namespace orvalink::test
