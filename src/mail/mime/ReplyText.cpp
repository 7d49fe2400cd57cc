#include "mail/mime/ReplyText.h"

#include "mail/mime/Charset.h"
#include "mail/mime/DisplayedMail.h"

namespace orvalink::mail {

std::string replyAddress(std::string_view from)
{
    const std::size_t close = from.rfind('>');
    const std::size_t open = close == std::string_view::npos ? close : from.rfind('<', close);
    if (open != std::string_view::npos)
        return std::string(trimSpaces(from.substr(open + 1, close - open - 1)));
    std::string_view bare = from;
    if (const std::size_t comment = bare.find('('); comment != std::string_view::npos)
        bare = bare.substr(0, comment);
    return std::string(trimSpaces(bare));
}

std::string replySubject(std::string_view subject)
{
    const std::string_view trimmed = trimSpaces(subject);
    if (asciiLower(trimmed.substr(0, 3)) == "re:")
        return std::string(trimmed);
    return "Re: " + std::string(trimmed);
}

std::string quoteBody(std::string_view body)
{
    const std::string lines = toLfLines(body);
    std::string out;
    out.reserve(lines.size() + lines.size() / 8 + 4);
    std::size_t start = 0;
    while (start <= lines.size()) {
        std::size_t end = lines.find('\n', start);
        if (end == std::string::npos)
            end = lines.size();
        // The line end after the last line is no line of its own.
        if (end == lines.size() && start == lines.size() && !lines.empty())
            break;
        if (!out.empty())
            out += "\r\n";
        out += "> ";
        out.append(lines, start, end - start);
        start = end + 1;
    }
    return out;
}

} // namespace orvalink::mail
