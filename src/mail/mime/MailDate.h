#pragma once

// The moment a mail's date text means, for sorting a list by date rather than by its text.

#include <cstdint>
#include <optional>
#include <string_view>

namespace orvalink::mail {

// Seconds since 1970-01-01 00:00 UTC of an RFC 5322 date ("Tue, 8 Dec 2026 10:00:00 +0900"; the
// day name, the seconds and the zone may be missing, a zone may be a name such as "GMT" or "JST",
// a comment after it is ignored). nullopt when the text holds no such date.
std::optional<std::int64_t> parseMailDate(std::string_view text);

} // namespace orvalink::mail
