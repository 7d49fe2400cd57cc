#include "mail/mime/DisplayedMail.h"

#include "mail/mime/Charset.h"
#include "mail/mime/HeaderWords.h"
#include "mail/mime/HtmlText.h"
#include "mail/mime/TransferEncoding.h"

namespace orvalink::mail {

namespace {

bool validUtf8WithHighBytes(std::string_view bytes)
{
    bool high = false;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        std::size_t n = 1;
        if (c >= 0x80) {
            high = true;
            if (c >= 0xc2 && c <= 0xdf)
                n = 2;
            else if (c >= 0xe0 && c <= 0xef)
                n = 3;
            else if (c >= 0xf0 && c <= 0xf4)
                n = 4;
            else
                return false;
            for (std::size_t k = 1; k < n; ++k) {
                if (i + k >= bytes.size() || (static_cast<unsigned char>(bytes[i + k]) & 0xc0) != 0x80)
                    return false;
            }
        }
        i += n;
    }
    return high;
}

std::string bodyBytesAsCp932(const MimePart& part)
{
    const std::string bytes = partContent(part);
    const Charset charset = charsetFromName(part.charset);
    if (isTransformingEncoding(part.transferEncoding))
        return toCp932(bytes, charset);
    if (charset == Charset::Iso2022Jp && bytes.find('\x1b') != std::string::npos)
        return toCp932(bytes, charset);
    if (charset == Charset::Utf8 && validUtf8WithHighBytes(bytes))
        return toCp932(bytes, charset);
    return bytes;
}

} // namespace

std::string toLfLines(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out.push_back('\n');
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            continue;
        }
        out.push_back(text[i]);
    }
    return out;
}

std::string displayText(const MimePart& part)
{
    std::string text = bodyBytesAsCp932(part);
    if (part.contentType == "text/html")
        return htmlToText(text);
    return toLfLines(text);
}

DisplayedMail displayMessage(const MimeMessage& message)
{
    DisplayedMail mail;
    mail.from = decodeHeaderWords(headerValue(message.headers, "From"));
    mail.to = decodeHeaderWords(headerValue(message.headers, "To"));
    mail.subject = decodeHeaderWords(headerValue(message.headers, "Subject"));
    mail.date = decodeHeaderWords(headerValue(message.headers, "Date"));
    mail.unclosedBoundary = message.unclosedBoundary;
    std::size_t chosen = message.parts.size();
    for (const char* type : {"text/plain", "text/html"}) {
        for (std::size_t i = 0; i < message.parts.size() && chosen == message.parts.size(); ++i) {
            if (!message.parts[i].attachment && message.parts[i].contentType == type)
                chosen = i;
        }
    }
    if (chosen < message.parts.size())
        mail.body = displayText(message.parts[chosen]);
    for (std::size_t i = 0; i < message.parts.size(); ++i) {
        if (i == chosen)
            continue;
        const MimePart& p = message.parts[i];
        mail.parts.push_back({p.name.empty() ? "(" + p.contentType + ")" : p.name, i});
    }
    return mail;
}

} // namespace orvalink::mail
