#pragma once

// Code page 932 (Shift-JIS) byte strings are the program's text everywhere. These helpers are the
// std-only half of the text boundary: character boundaries, and conversion to and from UTF-8 for
// file names and the settings file (glibc iconv). The QString half lives in platform/TextCodec.h.

#include <cstddef>
#include <string>
#include <string_view>

namespace orvalink::platform {

// First byte of a double-byte character: 0x81-0x9F or 0xE0-0xFC.
constexpr bool isCp932LeadByte(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// The longest prefix of s that is at most maxBytes long and does not end in the middle of a
// double-byte character (a lead byte at the very end of s counts as a whole character).
std::size_t cp932PrefixLength(std::string_view s, std::size_t maxBytes);
inline std::string_view cp932Prefix(std::string_view s, std::size_t maxBytes)
{
    return s.substr(0, cp932PrefixLength(s, maxBytes));
}

// Code page 932 -> UTF-8. A byte sequence with no UTF-8 equivalent becomes "?".
std::string cp932ToUtf8(std::string_view cp932);
// UTF-8 -> code page 932. A character that code page 932 cannot hold (or invalid UTF-8) becomes "?".
std::string utf8ToCp932(std::string_view utf8);
// True when every byte of s converts to UTF-8 and back to the same bytes.
bool cp932RoundTrips(std::string_view cp932);

} // namespace orvalink::platform
