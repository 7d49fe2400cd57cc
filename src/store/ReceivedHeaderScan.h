#pragma once

// Taking the index fields of a received message from the start of its text.

#include "store/IndexRecord.h"

#include <cstddef>
#include <optional>
#include <string_view>

namespace orvalink::store {

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

// The six texts that scanReceivedHeaders takes are the same in both records (the status and the
// body size are not compared).
bool sameReceivedTexts(const IndexRecord& a, const IndexRecord& b);

// Where in `bytes` the received message of `record`, `length` bytes long, may start: the last start
// at or before `last` from which the whole message lies in `bytes`, that begins `bytes` or follows
// an LF (every received message begins a line), and from which scanReceivedHeaders would take
// exactly the texts of `record`. Every byte is looked at a bounded number of times, however many
// starts are tried.
std::optional<std::size_t> findReceivedMessage(std::string_view bytes, std::size_t last, std::size_t length,
                                               const IndexRecord& record);

} // namespace orvalink::store
