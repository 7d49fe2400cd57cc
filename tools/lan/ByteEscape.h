#pragma once

#include <optional>
#include <string>
#include <string_view>

// The text form of raw datagram bytes used by orvalink-udppeer and the tests that drive it:
// printable ASCII stands for itself, a backslash is written "\\" and every other byte "\xHH".
// The form is one line whatever the bytes, so a datagram fits on one line of output.
namespace simlan {

std::string escapeBytes(std::string_view bytes);

// The bytes that escapeBytes(bytes) == text; nothing when text is not of that form (a lone
// backslash, an unknown escape, a short or non-hex \x escape, a byte outside printable ASCII).
// Hex digits may be of either case.
std::optional<std::string> unescapeBytes(std::string_view text);

} // namespace simlan
