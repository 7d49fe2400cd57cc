#pragma once

// Header texts for display. Filing decodes only the ISO-2022-JP encoded words of a received
// message; the words of other charsets reach the index and the mailbox as they came, and are
// decoded here each time they are shown. Stored fields are never rewritten.

#include <string>
#include <string_view>

namespace orvalink::mail {

// The text with every RFC 2047 encoded word ("=?charset?B?...?=" or "?Q?") decoded to code page
// 932; white space between two adjacent encoded words is dropped. A word that is not well formed,
// or names a charset this program does not take, stays as it stands. Other bytes are taken as code
// page 932 already.
std::string decodeHeaderWords(std::string_view text);

// An RFC 2231 extended parameter value "charset'language'%XX..." as code page 932.
std::string decodeExtendedValue(std::string_view value);

} // namespace orvalink::mail
