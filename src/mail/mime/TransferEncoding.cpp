#include "mail/mime/TransferEncoding.h"

#include "mail/mime/Charset.h"

namespace orvalink::mail {

namespace {

int base64Value(unsigned char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

std::string decodeBase64(std::string_view text)
{
    std::string out;
    out.reserve(text.size() / 4 * 3);
    unsigned bits = 0;
    int count = 0;
    for (const char ch : text) {
        if (ch == '=')
            break;
        const int v = base64Value(static_cast<unsigned char>(ch));
        if (v < 0)
            continue;
        bits = (bits << 6) | static_cast<unsigned>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<char>((bits >> count) & 0xff));
        }
    }
    return out;
}

std::string decodeQuotedPrintable(std::string_view text, bool headerForm)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (headerForm && c == '_') {
            out.push_back(' ');
            continue;
        }
        if (c != '=') {
            out.push_back(c);
            continue;
        }
        // A soft line break: "=", maybe spaces a sender left, then the line end.
        std::size_t j = i + 1;
        while (j < text.size() && (text[j] == ' ' || text[j] == '\t'))
            ++j;
        if (j < text.size() && (text[j] == '\n' || text[j] == '\r')) {
            if (text[j] == '\r' && j + 1 < text.size() && text[j + 1] == '\n')
                ++j;
            i = j;
            continue;
        }
        if (i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
            i += 2;
            continue;
        }
        out.push_back(c);
    }
    return out;
}

bool isTransformingEncoding(std::string_view encoding)
{
    const std::string e = asciiLower(trimSpaces(encoding));
    return e == "base64" || e == "quoted-printable";
}

std::string decodeTransferEncoding(std::string_view body, std::string_view encoding)
{
    const std::string e = asciiLower(trimSpaces(encoding));
    if (e == "base64")
        return decodeBase64(body);
    if (e == "quoted-printable")
        return decodeQuotedPrintable(body);
    return std::string(body);
}

} // namespace orvalink::mail
