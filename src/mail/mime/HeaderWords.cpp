#include "mail/mime/HeaderWords.h"

#include "mail/mime/Charset.h"
#include "mail/mime/TransferEncoding.h"

namespace orvalink::mail {

namespace {

struct EncodedWord {
    std::size_t end = 0;
    std::string decoded;
};

// The encoded word starting at `pos` ("=?"), if it is one this program can decode.
bool readEncodedWord(std::string_view text, std::size_t pos, EncodedWord& word)
{
    const std::size_t q1 = text.find('?', pos + 2);
    if (q1 == std::string_view::npos || q1 + 2 >= text.size() || text[q1 + 2] != '?')
        return false;
    const std::string_view charset = text.substr(pos + 2, q1 - pos - 2);
    if (charset.empty() || charset.find_first_of(" \t\r\n") != std::string_view::npos)
        return false;
    const char mode = text[q1 + 1];
    const std::size_t close = text.find("?=", q1 + 3);
    if (close == std::string_view::npos)
        return false;
    const std::string_view payload = text.substr(q1 + 3, close - q1 - 3);
    if (payload.find_first_of(" \t\r\n") != std::string_view::npos)
        return false;
    const Charset cs = charsetFromName(charset);
    if (cs == Charset::Unknown)
        return false;
    std::string bytes;
    if (mode == 'B' || mode == 'b')
        bytes = decodeBase64(payload);
    else if (mode == 'Q' || mode == 'q')
        bytes = decodeQuotedPrintable(payload, true);
    else
        return false;
    word.end = close + 2;
    word.decoded = toCp932(bytes, cs);
    return true;
}

} // namespace

std::string decodeHeaderWords(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    // Where the white space after the last decoded word began in `out`, while only white space has
    // followed it.
    std::size_t spaceAfterWord = std::string::npos;
    while (i < text.size()) {
        EncodedWord word;
        if (text[i] == '=' && i + 1 < text.size() && text[i + 1] == '?' && readEncodedWord(text, i, word)) {
            if (spaceAfterWord != std::string::npos)
                out.resize(spaceAfterWord);
            out += word.decoded;
            i = word.end;
            spaceAfterWord = out.size();
            continue;
        }
        const char c = text[i];
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            spaceAfterWord = std::string::npos;
        out.push_back(c);
        // A double-byte character's second byte may be "=": keep the pair together.
        const auto u = static_cast<unsigned char>(c);
        if (((u >= 0x81 && u <= 0x9f) || (u >= 0xe0 && u <= 0xfc)) && i + 1 < text.size()) {
            out.push_back(text[i + 1]);
            ++i;
        }
        ++i;
    }
    return out;
}

std::string decodeExtendedValue(std::string_view value)
{
    const std::size_t q1 = value.find('\'');
    const std::size_t q2 = q1 == std::string_view::npos ? q1 : value.find('\'', q1 + 1);
    std::string_view charset;
    std::string_view encoded = value;
    if (q2 != std::string_view::npos) {
        charset = value.substr(0, q1);
        encoded = value.substr(q2 + 1);
    }
    std::string bytes;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        const char c = encoded[i];
        if (c == '%' && i + 2 < encoded.size()) {
            const std::string hex(encoded.substr(i + 1, 2));
            if (hex.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos) {
                bytes.push_back(static_cast<char>(std::stoi(hex, nullptr, 16)));
                i += 2;
                continue;
            }
        }
        bytes.push_back(c);
    }
    return toCp932(bytes, charset);
}

} // namespace orvalink::mail
