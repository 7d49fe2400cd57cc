#include "platform/text/Cp932.h"

#include <cerrno>
#include <iconv.h>
#include <stdexcept>

namespace orvalink::platform {

std::size_t cp932PrefixLength(std::string_view s, std::size_t maxBytes)
{
    if (s.size() <= maxBytes)
        return s.size();
    std::size_t i = 0;
    while (i < maxBytes) {
        const std::size_t width = isCp932LeadByte(static_cast<unsigned char>(s[i])) ? 2 : 1;
        if (i + width > maxBytes)
            break;
        i += width;
    }
    return i;
}

namespace {

// One conversion with iconv; each unconvertible character is replaced by "?" and skipped. The
// width of the skipped input is one character of the source encoding, found by stepping.
class Converter {
public:
    Converter(const char* to, const char* from) : m_cd(::iconv_open(to, from))
    {
        if (m_cd == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error(std::string("iconv cannot convert from ") + from + " to " + to);
    }
    ~Converter() { ::iconv_close(m_cd); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    template <typename SkipWidth> std::string run(std::string_view in, SkipWidth skipWidth)
    {
        std::string out;
        out.reserve(in.size() * 3 / 2 + 4);
        ::iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        char buf[1024];
        while (srcLeft > 0) {
            char* dst = buf;
            std::size_t dstLeft = sizeof buf;
            const std::size_t r = ::iconv(m_cd, &src, &srcLeft, &dst, &dstLeft);
            out.append(buf, static_cast<std::size_t>(dst - buf));
            if (r == static_cast<std::size_t>(-1)) {
                if (errno == E2BIG)
                    continue;
                // EILSEQ or EINVAL (a sequence cut short at the end): replace one character.
                // A character cut short by the end of the input is one broken character.
                std::size_t w = skipWidth(std::string_view(src, srcLeft));
                if (w == 0)
                    w = 1;
                if (w > srcLeft)
                    w = srcLeft;
                out.push_back('?');
                src += w;
                srcLeft -= w;
                ::iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
            }
        }
        char* dst = buf;
        std::size_t dstLeft = sizeof buf;
        ::iconv(m_cd, nullptr, nullptr, &dst, &dstLeft);
        out.append(buf, static_cast<std::size_t>(dst - buf));
        return out;
    }

private:
    iconv_t m_cd;
};

// A lead byte takes the byte after it only when that byte can be a trail byte (0x40-0x7E,
// 0x80-0xFC): a lone lead byte before CR LF is one broken character, and the CR is read again.
std::size_t cp932Width(std::string_view s)
{
    if (s.size() < 2 || !isCp932LeadByte(static_cast<unsigned char>(s[0])))
        return 1;
    const auto trail = static_cast<unsigned char>(s[1]);
    return (trail >= 0x40 && trail <= 0x7E) || (trail >= 0x80 && trail <= 0xFC) ? 2 : 1;
}

std::size_t utf8Width(std::string_view s)
{
    const unsigned char c = static_cast<unsigned char>(s[0]);
    std::size_t w = c < 0x80 ? 1 : c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF8 ? 4 : 1;
    // Never skip past a byte that starts a new character.
    for (std::size_t i = 1; i < w && i < s.size(); ++i)
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80)
            return i;
    return w;
}

} // namespace

std::string cp932ToUtf8(std::string_view cp932)
{
    thread_local Converter conv("UTF-8", "CP932");
    return conv.run(cp932, cp932Width);
}

std::string utf8ToCp932(std::string_view utf8)
{
    thread_local Converter conv("CP932", "UTF-8");
    return conv.run(utf8, utf8Width);
}

bool cp932RoundTrips(std::string_view cp932)
{
    const std::string utf8 = cp932ToUtf8(cp932);
    return utf8ToCp932(utf8) == cp932;
}

} // namespace orvalink::platform
