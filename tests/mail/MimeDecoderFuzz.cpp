// Arbitrary bytes as a stored message through the display decoder: the structure, every part's
// content and display text, the header words and the parameters. No crash, every part a view
// inside the message, and the same result twice (no state carried between calls).
#include "mail/mime/Charset.h"
#include "mail/mime/DisplayedMail.h"
#include "mail/mime/HeaderWords.h"
#include "mail/mime/HtmlText.h"
#include "mail/mime/MimeMessage.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orvalink::mail {

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

std::string digest(std::string_view message)
{
    const MimeMessage parsed = parseMimeMessage(message);
    check(parsed.parts.size() <= kMaxMimeParts);
    std::string out;
    for (const auto& part : parsed.parts) {
        check(part.body.data() >= message.data() &&
              part.body.data() + part.body.size() <= message.data() + message.size());
        out += part.contentType + "|" + part.name + "|" + std::to_string(partContent(part).size()) + "|" +
               displayText(part) + "\n";
    }
    const DisplayedMail mail = displayMessage(parsed);
    for (const auto& p : mail.parts)
        check(p.part < parsed.parts.size());
    out += mail.from + mail.to + mail.subject + mail.date + mail.body;
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    check(digest(bytes) == digest(bytes));
    decodeHeaderWords(bytes);
    htmlToText(bytes);
    parseHeaderParameters(bytes);
    decodeExtendedValue(bytes);
    toCp932(bytes, Charset::Utf8);
    toCp932(bytes, Charset::Iso2022Jp);
    toCp932(bytes, Charset::EucJp);
    return 0;
}

} // namespace orvalink::mail
