#include "platform/text/ByteEscape.h"

namespace orvalink::platform {

namespace {

bool printable(unsigned char c)
{
    return c >= 0x20 && c <= 0x7e;
}

} // namespace

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string escapeBytes(std::string_view bytes)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\') {
            out += "\\\\";
        } else if (printable(c)) {
            out += ch;
        } else {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xf];
        }
    }
    return out;
}

std::optional<std::string> unescapeBytes(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (!printable(c))
            return std::nullopt;
        if (c != '\\') {
            out += text[i];
            continue;
        }
        if (i + 1 >= text.size())
            return std::nullopt;
        if (text[i + 1] == '\\') {
            out += '\\';
            i += 1;
            continue;
        }
        if (text[i + 1] != 'x' || i + 3 >= text.size())
            return std::nullopt;
        const int high = hexDigitValue(text[i + 2]);
        const int low = hexDigitValue(text[i + 3]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 3;
    }
    return out;
}

} // namespace orvalink::platform
