#pragma once

// An HTML body shown as plain text: tags dropped (a line break where a block ends), the contents
// of script and style elements dropped, character references decoded. Nothing is fetched.

#include <string>
#include <string_view>

namespace orvalink::mail {

// `html` and the result are code page 932 (the tag and reference characters are ASCII, and no
// second byte of a double-byte character is one of "<", ">" or "&").
std::string htmlToText(std::string_view html);

} // namespace orvalink::mail
