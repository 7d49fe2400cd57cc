#pragma once

// The content transfer encodings of RFC 2045, decoded leniently: what cannot be decoded is skipped
// or kept as it stands, never a reason to stop.

#include <string>
#include <string_view>

namespace orvalink::mail {

// Base64: characters outside the alphabet (line ends, stray bytes) are skipped; decoding ends at
// the first "="; bits left over at the end are dropped.
std::string decodeBase64(std::string_view text);

// Quoted-printable: "=" and two hex digits is a byte, "=" before a line end joins the lines, any
// other "=" stays as it is. With `headerForm` (the "Q" encoding of RFC 2047) "_" is a space.
std::string decodeQuotedPrintable(std::string_view text, bool headerForm = false);

// The body decoded by its Content-Transfer-Encoding value (any case, surrounding spaces ignored):
// base64, quoted-printable; everything else (7bit, 8bit, binary, unknown, none) as it is.
std::string decodeTransferEncoding(std::string_view body, std::string_view encoding);

// The value's known transfer encoding turns bytes into other bytes.
bool isTransformingEncoding(std::string_view encoding);

} // namespace orvalink::mail
