#pragma once

// What the read window shows of one stored message: the header texts, the body as plain text and
// the other parts by name, all code page 932. Decoding happens here, each time a message is shown;
// the stored bytes stay as they are.

#include "mail/mime/MimeMessage.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace orvalink::mail {

struct DisplayedPart {
    // The part's file name, or its content type in brackets when it has none.
    std::string label;
    // Index into MimeMessage::parts.
    std::size_t part = 0;
};

struct DisplayedMail {
    std::string from;
    std::string to;
    std::string subject;
    std::string date;
    // Lines separated by LF.
    std::string body;
    std::vector<DisplayedPart> parts;
    bool unclosedBoundary = false;
};

// A whole received message (header lines, empty line, body). The body is its first text/plain
// part that is not an attachment, else its first such text/html part as plain text; every other
// part is listed. A body sent in base64 or quoted-printable is converted from its charset; a body
// sent as it stands was already converted to code page 932 when it was filed, and is converted
// only when it still plainly is its charset (ISO-2022-JP escapes, or valid UTF-8 with 8-bit bytes).
DisplayedMail displayMessage(const MimeMessage& message);

// The text of one leaf part for display, by the rules above.
std::string displayText(const MimePart& part);

// Lines ending in CR LF, or a lone CR, as lines ending in LF.
std::string toLfLines(std::string_view text);

} // namespace orvalink::mail
