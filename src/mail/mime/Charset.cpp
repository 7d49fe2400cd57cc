#include "mail/mime/Charset.h"

#include <cerrno>
#include <iconv.h>

namespace orvalink::mail {

namespace {

const char* iconvName(Charset charset)
{
    switch (charset) {
    case Charset::Iso2022Jp:
        return "ISO-2022-JP";
    case Charset::EucJp:
        return "EUC-JP";
    case Charset::Utf8:
        return "UTF-8";
    case Charset::Latin1:
        return "ISO-8859-1";
    case Charset::Cp932:
    case Charset::Unknown:
        break;
    }
    return nullptr;
}

// The length of the input character that iconv could not take: a whole UTF-8 sequence or a
// double-byte character where the charset has them, so that one "?" stands for one character.
std::size_t badCharLength(Charset charset, const unsigned char* p, std::size_t left)
{
    std::size_t n = 1;
    if (charset == Charset::Utf8) {
        if (p[0] >= 0xf0)
            n = 4;
        else if (p[0] >= 0xe0)
            n = 3;
        else if (p[0] >= 0xc0)
            n = 2;
        for (std::size_t i = 1; i < n; ++i) {
            if (i >= left || (p[i] & 0xc0) != 0x80)
                return i;
        }
    } else if (charset == Charset::EucJp && p[0] >= 0x80 && left >= 2) {
        n = 2;
    }
    return n <= left ? n : left;
}

class Converter {
public:
    explicit Converter(const char* from) : m_cd(iconv_open("CP932", from)) {}
    ~Converter()
    {
        if (ok())
            iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    std::string run(std::string_view bytes, Charset charset)
    {
        std::string out;
        out.reserve(bytes.size() + 16);
        char* in = const_cast<char*>(bytes.data());
        std::size_t inLeft = bytes.size();
        char buffer[4096];
        for (;;) {
            char* o = buffer;
            std::size_t oLeft = sizeof buffer;
            const std::size_t r = iconv(m_cd, inLeft > 0 ? &in : nullptr, &inLeft, &o, &oLeft);
            out.append(buffer, static_cast<std::size_t>(o - buffer));
            if (r != static_cast<std::size_t>(-1)) {
                if (inLeft == 0)
                    break;
                continue;
            }
            if (errno == E2BIG)
                continue;
            // EILSEQ (no such character here or there) or EINVAL (cut off at the end): one "?" for
            // the character, then go on after it from the charset's initial state.
            out.push_back('?');
            const std::size_t skip = badCharLength(charset, reinterpret_cast<const unsigned char*>(in), inLeft);
            in += skip;
            inLeft -= skip;
            iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
            if (inLeft == 0)
                break;
        }
        return out;
    }

private:
    iconv_t m_cd;
};

} // namespace

std::string asciiLower(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string_view trimSpaces(std::string_view text)
{
    while (!text.empty() &&
           (text.front() == ' ' || text.front() == '\t' || text.front() == '\r' || text.front() == '\n'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

Charset charsetFromName(std::string_view name)
{
    name = trimSpaces(name);
    if (const auto star = name.find('*'); star != std::string_view::npos)
        name = name.substr(0, star);
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
        name = name.substr(1, name.size() - 2);
    const std::string n = asciiLower(name);
    if (n.empty() || n == "us-ascii" || n == "ascii" || n == "shift_jis" || n == "shift-jis" || n == "sjis" ||
        n == "x-sjis" || n == "cp932" || n == "windows-31j" || n == "ms932" || n == "x-ms-cp932")
        return Charset::Cp932;
    if (n == "iso-2022-jp" || n == "csiso2022jp")
        return Charset::Iso2022Jp;
    if (n == "euc-jp" || n == "x-euc-jp" || n == "eucjp")
        return Charset::EucJp;
    if (n == "utf-8" || n == "utf8")
        return Charset::Utf8;
    if (n == "iso-8859-1" || n == "latin1" || n == "iso_8859-1" || n == "l1")
        return Charset::Latin1;
    return Charset::Unknown;
}

std::string toCp932(std::string_view bytes, Charset charset)
{
    const char* from = iconvName(charset);
    if (from == nullptr || bytes.empty())
        return std::string(bytes);
    Converter converter(from);
    if (!converter.ok())
        return std::string(bytes);
    return converter.run(bytes, charset);
}

std::string toCp932(std::string_view bytes, std::string_view charsetName)
{
    return toCp932(bytes, charsetFromName(charsetName));
}

std::string codePointToCp932(char32_t cp)
{
    if (cp < 0x80)
        return std::string(1, static_cast<char>(cp));
    if (cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
        return "?";
    std::string utf8;
    if (cp < 0x800) {
        utf8 += static_cast<char>(0xc0 | (cp >> 6));
    } else if (cp < 0x10000) {
        utf8 += static_cast<char>(0xe0 | (cp >> 12));
        utf8 += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
    } else {
        utf8 += static_cast<char>(0xf0 | (cp >> 18));
        utf8 += static_cast<char>(0x80 | ((cp >> 12) & 0x3f));
        utf8 += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
    }
    utf8 += static_cast<char>(0x80 | (cp & 0x3f));
    return toCp932(utf8, Charset::Utf8);
}

} // namespace orvalink::mail
