#pragma once

// Taking the index fields of a received message from the start of its text.

#include "folders/store/IndexRecord.h"

#include <cstddef>
#include <string_view>

namespace orvalink::folders {

// Bytes of a received message searched for its index fields.
inline constexpr std::size_t kHeaderSearchBytes = 550000;

// The record of a received message (status unread, body size left 0 for the caller) from the
// message's first bytes, at most kHeaderSearchBytes of them.
//
// A field is found at the first "\n" + name (case-sensitive, so the message's very first line never
// matches, and a body line can match when the header lacks the field). Its value starts at the
// second byte after the colon (the byte after the colon is skipped whatever it is) and ends at the
// end of that line: at the first CR, LF or NUL, or at the end of the search range. The arrival date
// is taken the same way after the first ";" anywhere in the range.
IndexRecord scanReceivedHeaders(std::string_view message);

} // namespace orvalink::folders
