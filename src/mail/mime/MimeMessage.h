#pragma once

// The MIME structure of one stored message: its header fields and its leaf parts, in order, as
// views into the message bytes. The walk takes whatever it finds: a multipart whose boundary never
// closes runs to the end of the message, a multipart with no boundary line is one text part, and
// nesting deeper than kMaxMimeDepth is taken as a leaf.

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvalink::mail {

inline constexpr int kMaxMimeDepth = 16;
inline constexpr std::size_t kMaxMimeParts = 1000;

struct MimeHeader {
    std::string name;
    // The value unfolded (line ends inside it dropped, the white space after them kept), without
    // the spaces around it; not decoded.
    std::string value;
};

// The header fields of `block` (the lines before the empty line), in order.
std::vector<MimeHeader> parseHeaderBlock(std::string_view block);
// The first field named `name` (ASCII case ignored); empty when there is none.
std::string headerValue(const std::vector<MimeHeader>& headers, std::string_view name);

// A Content-Type or Content-Disposition value: the first word in lower case and its parameters,
// names in lower case, quoted values unquoted; RFC 2231 values (name*, name*0, name*0* ...)
// joined and decoded to code page 932 under the plain name.
struct HeaderParameters {
    std::string value;
    std::vector<std::pair<std::string, std::string>> parameters;
    bool extended(std::string_view name) const;
    std::string parameter(std::string_view name) const;
};
HeaderParameters parseHeaderParameters(std::string_view text);

struct MimePart {
    // "text/plain" when the part says nothing.
    std::string contentType = "text/plain";
    std::string charset;
    std::string transferEncoding;
    // The file name for display and saving, code page 932: the disposition's filename, else the
    // type's name, with RFC 2231 and RFC 2047 forms decoded. Empty when the part has none.
    std::string name;
    bool attachment = false;
    // The body as stored, before its transfer encoding is undone.
    std::string_view body;
};

struct MimeMessage {
    std::vector<MimeHeader> headers;
    std::vector<MimePart> parts;
    // A multipart boundary never closed: the last part runs to the end of the message.
    bool unclosedBoundary = false;
    // Parts beyond kMaxMimeParts were not listed.
    bool partsCut = false;
};

// `message` must outlive the result (its parts are views into it).
MimeMessage parseMimeMessage(std::string_view message);

// The part's content with its transfer encoding undone: the bytes an attachment is saved as.
std::string partContent(const MimePart& part);

} // namespace orvalink::mail
