#include "mail/mime/HtmlText.h"

#include "mail/mime/Charset.h"

#include <array>

namespace orvalink::mail {

namespace {

struct NamedEntity {
    std::string_view name;
    char32_t codePoint;
};

constexpr std::array<NamedEntity, 12> kEntities{{{"amp", U'&'},
                                                 {"lt", U'<'},
                                                 {"gt", U'>'},
                                                 {"quot", U'"'},
                                                 {"apos", U'\''},
                                                 {"nbsp", U' '},
                                                 {"copy", U'\u00a9'},
                                                 {"reg", U'\u00ae'},
                                                 {"yen", U'\u00a5'},
                                                 {"hellip", U'\u2026'},
                                                 {"mdash", U'\u2014'},
                                                 {"ndash", U'\u2013'}}};

// Element names after which the text goes on on a new line.
bool breaksLine(std::string_view name)
{
    static constexpr std::array<std::string_view, 14> kBlocks{"br", "p",  "div", "tr", "li",    "h1",         "h2",
                                                              "h3", "h4", "h5",  "h6", "table", "blockquote", "hr"};
    for (const auto b : kBlocks) {
        if (name == b)
            return true;
    }
    return false;
}

// The reference at `pos` ("&"); false when it is not one (then "&" is text).
bool readReference(std::string_view html, std::size_t pos, std::string& out, std::size_t& end)
{
    const std::size_t semi = html.find(';', pos + 1);
    if (semi == std::string_view::npos || semi - pos > 12)
        return false;
    const std::string_view body = html.substr(pos + 1, semi - pos - 1);
    if (body.size() >= 2 && body[0] == '#') {
        char32_t cp = 0;
        const bool hex = body[1] == 'x' || body[1] == 'X';
        const std::string_view digits = body.substr(hex ? 2 : 1);
        if (digits.empty())
            return false;
        for (const char c : digits) {
            int v = -1;
            if (c >= '0' && c <= '9')
                v = c - '0';
            else if (hex && c >= 'a' && c <= 'f')
                v = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F')
                v = c - 'A' + 10;
            if (v < 0)
                return false;
            cp = cp * (hex ? 16 : 10) + static_cast<char32_t>(v);
            if (cp > 0x10ffff)
                cp = 0x110000;
        }
        out += codePointToCp932(cp);
        end = semi + 1;
        return true;
    }
    for (const auto& e : kEntities) {
        if (body == e.name) {
            out += codePointToCp932(e.codePoint);
            end = semi + 1;
            return true;
        }
    }
    return false;
}

} // namespace

std::string htmlToText(std::string_view html)
{
    std::string out;
    out.reserve(html.size());
    bool lastSpace = true;
    std::size_t i = 0;
    while (i < html.size()) {
        const char c = html[i];
        if (c == '<') {
            if (html.substr(i, 4) == "<!--") {
                const std::size_t close = html.find("-->", i + 4);
                i = close == std::string_view::npos ? html.size() : close + 3;
                continue;
            }
            const std::size_t close = html.find('>', i + 1);
            if (close == std::string_view::npos)
                break;
            std::string_view tag = html.substr(i + 1, close - i - 1);
            const bool closing = !tag.empty() && tag.front() == '/';
            if (closing)
                tag.remove_prefix(1);
            const std::size_t nameEnd = tag.find_first_of(" \t\r\n/");
            const std::string name = asciiLower(tag.substr(0, nameEnd));
            i = close + 1;
            if (!closing && (name == "script" || name == "style")) {
                const std::string endTag = "</" + name;
                std::size_t j = i;
                for (; j < html.size(); ++j) {
                    if (html[j] == '<' && asciiLower(html.substr(j, endTag.size())) == endTag)
                        break;
                }
                const std::size_t after = j < html.size() ? html.find('>', j) : std::string_view::npos;
                i = after == std::string_view::npos ? html.size() : after + 1;
                continue;
            }
            if (breaksLine(name)) {
                while (!out.empty() && out.back() == ' ')
                    out.pop_back();
                // A line break tag always ends a line; a block only ends the line it is on.
                if (name == "br" || (!out.empty() && out.back() != '\n'))
                    out.push_back('\n');
                lastSpace = true;
            }
            continue;
        }
        if (c == '&') {
            std::size_t end = 0;
            if (readReference(html, i, out, end)) {
                i = end;
                lastSpace = false;
                continue;
            }
        }
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (!lastSpace)
                out.push_back(' ');
            lastSpace = true;
            ++i;
            continue;
        }
        out.push_back(c);
        lastSpace = false;
        ++i;
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == '\n'))
        out.pop_back();
    // Blocks that end one after another leave no more than one empty line.
    std::string tidy;
    tidy.reserve(out.size());
    int newlines = 0;
    for (const char ch : out) {
        newlines = ch == '\n' ? newlines + 1 : 0;
        if (newlines <= 2)
            tidy.push_back(ch);
    }
    return tidy;
}

} // namespace orvalink::mail
