#pragma once

// Text of a mail in another character set, turned into code page 932 for display. Only the
// charsets a Japanese mail is expected in are taken: ISO-2022-JP, EUC-JP, Shift_JIS and its
// Windows form, UTF-8, US-ASCII and ISO-8859-1. The conversion goes through the C library's iconv;
// a character code page 932 cannot hold, or a byte that is not valid in its charset, becomes "?".

#include <string>
#include <string_view>

namespace orvalink::mail {

enum class Charset { Cp932, Iso2022Jp, EucJp, Utf8, Latin1, Unknown };

// The charset a MIME charset name (any case, surrounding spaces and an RFC 2231 "*language"
// suffix ignored) stands for. An empty name is US-ASCII, taken as code page 932.
Charset charsetFromName(std::string_view name);

// `bytes` in `charset` as code page 932. Unknown charsets give the bytes as they are.
std::string toCp932(std::string_view bytes, Charset charset);
std::string toCp932(std::string_view bytes, std::string_view charsetName);

// The Unicode code point as code page 932 ("?" when it has none there).
std::string codePointToCp932(char32_t codePoint);

// Helpers for the ASCII parts of MIME text.
std::string asciiLower(std::string_view text);
std::string_view trimSpaces(std::string_view text);

} // namespace orvalink::mail
