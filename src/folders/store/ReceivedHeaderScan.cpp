#include "folders/store/ReceivedHeaderScan.h"

#include <algorithm>
#include <string>

namespace orvalink::folders {

namespace {

// The value that starts one byte past `marker` (the byte right after the marker is skipped).
// A skipped line end leaves the value empty rather than taking the next line.
std::string valueAfter(std::string_view range, std::size_t marker)
{
    const std::size_t skipped = marker + 1;
    if (skipped >= range.size() || range[skipped] == '\n' || range[skipped] == '\r')
        return {};
    return receivedFieldText(range.substr(skipped + 1));
}

std::string headerValue(std::string_view range, std::string_view pattern)
{
    const std::size_t at = range.find(pattern);
    if (at == std::string_view::npos)
        return {};
    return valueAfter(range, at + pattern.size() - 1);
}

} // namespace

IndexRecord scanReceivedHeaders(std::string_view message)
{
    const std::string_view range = message.substr(0, std::min(message.size(), kHeaderSearchBytes));
    IndexRecord record;
    record.status = kStatusUnread;
    record.sender = headerValue(range, "\nFrom:");
    record.subject = headerValue(range, "\nSubject:");
    record.recipient = headerValue(range, "\nTo:");
    record.headerDate = headerValue(range, "\nDate:");
    record.mailer = headerValue(range, "\nX-Mailer:");
    const std::size_t semicolon = range.find(';');
    if (semicolon != std::string_view::npos)
        record.arrivalDate = valueAfter(range, semicolon);
    return record;
}

} // namespace orvalink::folders
