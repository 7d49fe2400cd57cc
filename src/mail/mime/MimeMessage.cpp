#include "mail/mime/MimeMessage.h"

#include "mail/mime/Charset.h"
#include "mail/mime/HeaderWords.h"
#include "mail/mime/TransferEncoding.h"

#include <algorithm>
#include <map>

namespace orvalink::mail {

namespace {

bool equalsAscii(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && asciiLower(a) == asciiLower(b);
}

// Splits an entity into its header block and its body at the first empty line. An entity with no
// empty line is all header when its first line is a header field, else all body.
std::pair<std::string_view, std::string_view> splitEntity(std::string_view entity)
{
    if (entity.starts_with("\r\n"))
        return {{}, entity.substr(2)};
    if (entity.starts_with("\n"))
        return {{}, entity.substr(1)};
    std::size_t pos = 0;
    while (pos < entity.size()) {
        const std::size_t lf = entity.find('\n', pos);
        if (lf == std::string_view::npos)
            return {entity, entity.substr(entity.size())};
        const std::size_t next = lf + 1;
        if (next < entity.size() && entity[next] == '\n')
            return {entity.substr(0, next), entity.substr(next + 1)};
        if (next + 1 < entity.size() && entity[next] == '\r' && entity[next + 1] == '\n')
            return {entity.substr(0, next), entity.substr(next + 2)};
        pos = next;
    }
    return {entity, entity.substr(entity.size())};
}

void walk(std::string_view entity, int depth, MimeMessage& message, bool top);

std::string_view stripLineEnd(std::string_view text)
{
    if (text.ends_with("\r\n"))
        text.remove_suffix(2);
    else if (text.ends_with("\n"))
        text.remove_suffix(1);
    return text;
}

// The position of the next line starting with `delimiter` at or after `from`, which must be a
// line start.
std::size_t findDelimiter(std::string_view body, std::string_view delimiter, std::size_t from)
{
    std::size_t pos = from;
    while (pos < body.size()) {
        // The delimiter is the whole boundary: "--b1" is no delimiter line of the boundary "b".
        if (body.substr(pos, delimiter.size()) == delimiter) {
            const std::size_t after = pos + delimiter.size();
            if (after == body.size() || std::string_view(" \t\r\n-").find(body[after]) != std::string_view::npos)
                return pos;
        }
        const std::size_t lf = body.find('\n', pos);
        if (lf == std::string_view::npos)
            return std::string_view::npos;
        pos = lf + 1;
    }
    return std::string_view::npos;
}

void addLeaf(const std::vector<MimeHeader>& headers, std::string_view body, MimeMessage& message)
{
    if (message.parts.size() >= kMaxMimeParts) {
        message.partsCut = true;
        return;
    }
    MimePart part;
    const HeaderParameters type = parseHeaderParameters(headerValue(headers, "Content-Type"));
    if (!type.value.empty() && type.value.find('/') != std::string::npos)
        part.contentType = type.value;
    part.charset = type.parameter("charset");
    part.transferEncoding = asciiLower(trimSpaces(headerValue(headers, "Content-Transfer-Encoding")));
    const HeaderParameters disposition = parseHeaderParameters(headerValue(headers, "Content-Disposition"));
    std::string name = disposition.parameter("filename");
    bool extended = disposition.extended("filename");
    if (name.empty()) {
        name = type.parameter("name");
        extended = type.extended("name");
    }
    part.name = extended ? name : decodeHeaderWords(name);
    part.attachment = disposition.value == "attachment" || !part.name.empty() ||
                      !(part.contentType.starts_with("text/") || part.contentType.starts_with("multipart/"));
    part.body = body;
    message.parts.push_back(std::move(part));
}

void walkMultipart(const std::vector<MimeHeader>& headers, std::string_view body, std::string_view boundary, int depth,
                   MimeMessage& message)
{
    const std::string delimiter = "--" + std::string(boundary);
    std::size_t at = findDelimiter(body, delimiter, 0);
    if (at == std::string_view::npos) {
        // No boundary line at all: show the body as text rather than nothing.
        std::vector<MimeHeader> plain;
        for (const auto& h : headers) {
            if (!equalsAscii(h.name, "Content-Type"))
                plain.push_back(h);
        }
        addLeaf(plain, body, message);
        return;
    }
    for (;;) {
        const std::size_t after = at + delimiter.size();
        if (body.substr(after, 2) == "--")
            return;
        const std::size_t lf = body.find('\n', after);
        if (lf == std::string_view::npos) {
            message.unclosedBoundary = true;
            return;
        }
        const std::size_t start = lf + 1;
        const std::size_t next = findDelimiter(body, delimiter, start);
        if (next == std::string_view::npos) {
            message.unclosedBoundary = true;
            walk(body.substr(start), depth + 1, message, false);
            return;
        }
        // The line end before the delimiter belongs to the delimiter.
        walk(stripLineEnd(body.substr(start, next - start)), depth + 1, message, false);
        if (message.partsCut)
            return;
        at = next;
    }
}

void walk(std::string_view entity, int depth, MimeMessage& message, bool top)
{
    const auto [block, body] = splitEntity(entity);
    std::vector<MimeHeader> headers = parseHeaderBlock(block);
    const HeaderParameters type = parseHeaderParameters(headerValue(headers, "Content-Type"));
    const std::string boundary = type.parameter("boundary");
    if (top)
        message.headers = headers;
    if (type.value.starts_with("multipart/") && !boundary.empty() && depth < kMaxMimeDepth)
        walkMultipart(headers, body, boundary, depth, message);
    else
        addLeaf(headers, body, message);
}

} // namespace

std::vector<MimeHeader> parseHeaderBlock(std::string_view block)
{
    std::vector<MimeHeader> headers;
    std::size_t pos = 0;
    while (pos < block.size()) {
        std::size_t lf = block.find('\n', pos);
        if (lf == std::string_view::npos)
            lf = block.size();
        const std::string_view line = stripLineEnd(block.substr(pos, lf + 1 - pos));
        pos = lf + 1;
        if (line.empty())
            break;
        if ((line.front() == ' ' || line.front() == '\t') && !headers.empty()) {
            headers.back().value += line;
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0)
            continue;
        headers.push_back({std::string(trimSpaces(line.substr(0, colon))), std::string(line.substr(colon + 1))});
    }
    for (auto& h : headers)
        h.value = std::string(trimSpaces(h.value));
    return headers;
}

std::string headerValue(const std::vector<MimeHeader>& headers, std::string_view name)
{
    for (const auto& h : headers) {
        if (equalsAscii(h.name, name))
            return h.value;
    }
    return {};
}

bool HeaderParameters::extended(std::string_view name) const
{
    const std::string key = std::string(name) + "*";
    return std::any_of(parameters.begin(), parameters.end(), [&](const auto& p) { return p.first == key; });
}

std::string HeaderParameters::parameter(std::string_view name) const
{
    const std::string key = std::string(name) + "*";
    for (const auto& [n, v] : parameters) {
        if (n == key)
            return v;
    }
    for (const auto& [n, v] : parameters) {
        if (n == name)
            return v;
    }
    return {};
}

HeaderParameters parseHeaderParameters(std::string_view text)
{
    HeaderParameters result;
    std::size_t semi = text.find(';');
    result.value = asciiLower(trimSpaces(text.substr(0, semi)));
    // RFC 2231 sections: name*N or name*N*, joined in order of N; the first section's "charset'lang'"
    // applies to all encoded sections.
    std::map<std::string, std::map<int, std::pair<bool, std::string>>> sections;
    std::size_t pos = semi == std::string_view::npos ? text.size() : semi + 1;
    while (pos < text.size()) {
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t' || text[pos] == ';'))
            ++pos;
        const std::size_t eq = text.find('=', pos);
        if (eq == std::string_view::npos)
            break;
        std::string name = asciiLower(trimSpaces(text.substr(pos, eq - pos)));
        pos = eq + 1;
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
            ++pos;
        std::string value;
        if (pos < text.size() && text[pos] == '"') {
            ++pos;
            while (pos < text.size() && text[pos] != '"') {
                if (text[pos] == '\\' && pos + 1 < text.size())
                    ++pos;
                value.push_back(text[pos++]);
            }
            ++pos;
        } else {
            const std::size_t end = std::min(text.find(';', pos), text.size());
            value = std::string(trimSpaces(text.substr(pos, end - pos)));
            pos = end;
        }
        const std::size_t star = name.find('*');
        if (star == std::string::npos) {
            result.parameters.emplace_back(std::move(name), std::move(value));
            continue;
        }
        const std::string base = name.substr(0, star);
        const std::string rest = name.substr(star + 1);
        if (rest.empty()) {
            result.parameters.emplace_back(base + "*", decodeExtendedValue(value));
            continue;
        }
        const bool encoded = rest.back() == '*';
        const std::string digits = encoded ? rest.substr(0, rest.size() - 1) : rest;
        if (digits.empty() || digits.size() > 3 || digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        sections[base][std::stoi(digits)] = {encoded, std::move(value)};
    }
    for (auto& [base, parts] : sections) {
        // Encoded sections are percent-decoded together with the first section's charset; plain
        // ones are taken as they are.
        std::string charset;
        std::string joined;
        bool first = true;
        for (auto& [index, part] : parts) {
            std::string_view v = part.second;
            if (first && part.first) {
                const std::size_t q1 = v.find('\'');
                const std::size_t q2 = q1 == std::string_view::npos ? q1 : v.find('\'', q1 + 1);
                if (q2 != std::string_view::npos) {
                    charset = std::string(v.substr(0, q1));
                    v = v.substr(q2 + 1);
                }
            }
            first = false;
            if (part.first) {
                joined += decodeExtendedValue("''" + std::string(v));
            } else {
                joined += v;
            }
        }
        result.parameters.emplace_back(base + "*", toCp932(joined, charset));
    }
    return result;
}

MimeMessage parseMimeMessage(std::string_view message)
{
    MimeMessage result;
    walk(message, 0, result, true);
    return result;
}

std::string partContent(const MimePart& part)
{
    return decodeTransferEncoding(part.body, part.transferEncoding);
}

} // namespace orvalink::mail
