#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvalink::platform {

// A one-line text form of any bytes, for the raw UDP peer, the program's automation channel and
// the tests that read them: printable ASCII stands for itself, a backslash is written "\\" and
// every other byte "\xhh".

std::string escapeBytes(std::string_view bytes);

// The bytes that escapeBytes(bytes) == text; nothing when text is not of that form (a lone
// backslash, an unknown escape, a short or non-hex \x escape, a byte outside printable ASCII).
// Hex digits may be of either case.
std::optional<std::string> unescapeBytes(std::string_view text);

// The value of a hexadecimal digit of either case, or -1.
int hexDigitValue(char c);

} // namespace orvalink::platform
