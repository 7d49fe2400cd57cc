#include "store/ReceivedHeaderScan.h"

#include <algorithm>
#include <iterator>
#include <string>

namespace orvalink::store {

namespace {

// The header fields of the record and the line each is taken from.
struct HeaderField {
    std::string_view pattern;
    std::string IndexRecord::*field;
};
constexpr HeaderField kHeaderFields[] = {
    {"\nFrom:", &IndexRecord::sender},     {"\nSubject:", &IndexRecord::subject}, {"\nTo:", &IndexRecord::recipient},
    {"\nDate:", &IndexRecord::headerDate}, {"\nX-Mailer:", &IndexRecord::mailer},
};

// The value that starts one byte past `marker` (the byte right after the marker is skipped).
// A skipped line end leaves the value empty rather than taking the next line. A value is never
// longer than kMaxFieldBytes, so no more than one byte past that is looked at.
std::string valueAfter(std::string_view range, std::size_t marker)
{
    const std::size_t skipped = marker + 1;
    if (skipped >= range.size() || range[skipped] == '\n' || range[skipped] == '\r')
        return {};
    return receivedFieldText(range.substr(skipped + 1, kMaxFieldBytes + 1));
}

// The value of the field whose pattern starts at `at` in `range` (npos: nowhere).
std::string headerValueAt(std::string_view range, std::size_t at, std::string_view pattern)
{
    if (at == std::string_view::npos || at > range.size() || range.size() - at < pattern.size())
        return {};
    return valueAfter(range, at + pattern.size() - 1);
}

std::string arrivalValueAt(std::string_view range, std::size_t at)
{
    if (at == std::string_view::npos || at >= range.size())
        return {};
    return valueAfter(range, at);
}

} // namespace

IndexRecord scanReceivedHeaders(std::string_view message)
{
    const std::string_view range = message.substr(0, std::min(message.size(), kHeaderSearchBytes));
    IndexRecord record;
    record.status = kStatusUnread;
    for (const HeaderField& h : kHeaderFields)
        record.*h.field = headerValueAt(range, range.find(h.pattern), h.pattern);
    record.arrivalDate = arrivalValueAt(range, range.find(';'));
    return record;
}

bool sameReceivedTexts(const IndexRecord& a, const IndexRecord& b)
{
    return a.sender == b.sender && a.subject == b.subject && a.recipient == b.recipient &&
           a.arrivalDate == b.arrivalDate && a.headerDate == b.headerDate && a.mailer == b.mailer;
}

std::optional<std::size_t> findReceivedMessage(std::string_view bytes, std::size_t last, std::size_t length,
                                               const IndexRecord& record)
{
    constexpr std::size_t npos = std::string_view::npos;
    if (length > bytes.size())
        return std::nullopt;
    last = std::min(last, bytes.size() - length);
    const std::size_t searched = std::min(length, kHeaderSearchBytes);
    // Going back from `last`, where each field's line and the first ";" next begin at or after the
    // start being tried: the first ones a scan from that start would find, if they lie in its range.
    constexpr std::size_t kFields = std::size(kHeaderFields);
    std::size_t next[kFields];
    for (std::size_t f = 0; f < kFields; ++f)
        next[f] = bytes.find(kHeaderFields[f].pattern, last);
    std::size_t nextSemicolon = bytes.find(';', last);
    for (std::size_t start = last + 1; start-- > 0;) {
        if (start < last) {
            if (bytes[start] == '\n') {
                for (std::size_t f = 0; f < kFields; ++f)
                    if (bytes.substr(start).starts_with(kHeaderFields[f].pattern))
                        next[f] = start;
            } else if (bytes[start] == ';') {
                nextSemicolon = start;
            }
        }
        if (start > 0 && bytes[start - 1] != '\n')
            continue;
        const std::string_view range = bytes.substr(start, searched);
        const auto from = [start](std::size_t at) { return at == npos ? npos : at - start; };
        bool same = arrivalValueAt(range, from(nextSemicolon)) == record.arrivalDate;
        for (std::size_t f = 0; f < kFields && same; ++f)
            same = headerValueAt(range, from(next[f]), kHeaderFields[f].pattern) == record.*kHeaderFields[f].field;
        if (same)
            return start;
    }
    return std::nullopt;
}

} // namespace orvalink::store
