#include "chat/wire/ChatDatagram.h"

namespace orvalink::chat {

namespace {

std::string build(std::string_view kind, std::string_view name, std::string_view tail)
{
    std::string d;
    d.reserve(kHeaderLength + kind.size() + name.size() + tail.size() + 2);
    d.append(kSingleHeader).append(kind).append("#").append(name).append("#").append(tail);
    return d;
}

// The leading decimal digits of a header field, as the receiver has always read them ("1   #" is
// part 1); a field that does not start with a digit is not a number.
std::optional<int> leadingNumber(std::string_view field)
{
    int v = 0;
    std::size_t i = 0;
    for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i)
        v = v * 10 + (field[i] - '0');
    if (i == 0)
        return std::nullopt;
    return v;
}

} // namespace

std::string buildPresence(std::string_view name)
{
    return build("ON ", name, "N#");
}
std::string buildJoin(std::string_view name)
{
    return build("ON ", name, "C#");
}
std::string buildLeave(std::string_view name)
{
    return build("OFF", name, "");
}

std::string buildGroupMessage(std::string_view name, std::string_view text)
{
    std::string d = build("WR1", name, "C#");
    d.append(text);
    return d;
}

std::string buildPersonalMessage(std::string_view name, std::string_view text)
{
    std::string d = build("WR2", name, "C#");
    d.append(text);
    return d;
}

std::optional<DatagramHeader> parseHeader(std::string_view datagram)
{
    if (datagram.size() < kHeaderLength)
        return std::nullopt;
    const auto number = leadingNumber(datagram.substr(0, 4));
    const auto count = leadingNumber(datagram.substr(5, 4));
    if (!number || !count || *number == 0 || *number > *count)
        return std::nullopt;
    return DatagramHeader{*number, *count};
}

ChatPayload parsePayload(std::string_view payload)
{
    ChatPayload p;
    const std::size_t p1 = payload.find('#');
    if (p1 == std::string_view::npos)
        return p;
    const std::size_t p2 = payload.find('#', p1 + 1);
    if (p2 == std::string_view::npos)
        return p;
    const std::size_t p3 = payload.find('#', p2 + 1);

    p.name = payload.substr(p1 + 1, p2 - p1 - 1);
    // Without a third "#" (the leave notice) the flag is the first character of the payload,
    // which is never "N" for a kind that cares.
    p.flag = p3 == std::string_view::npos ? payload[0] : payload[p3 - 1];
    if (p3 != std::string_view::npos)
        p.text = payload.substr(p3 + 1);

    const std::string_view kind = payload.substr(0, 3);
    // The kinds are tested in this order; a WR1 or WR2 with flag N falls through to nothing.
    if (kind == "ON " && p.flag == 'N')
        p.kind = ChatKind::Presence;
    else if (kind == "ON ")
        p.kind = ChatKind::Join;
    else if (kind == "WR1" && p.flag != 'N')
        p.kind = ChatKind::GroupMessage;
    else if (kind == "WR2" && p.flag != 'N')
        p.kind = ChatKind::PersonalMessage;
    else if (kind == "OFF")
        p.kind = ChatKind::Leave;
    return p;
}

std::string memberKey(std::string_view address, unsigned port, std::string_view name)
{
    std::string key;
    key.reserve(address.size() + name.size() + 8);
    key.append(address).append("#").append(std::to_string(port)).append("#").append(name);
    return key;
}

std::string_view addressOfMemberKey(std::string_view key)
{
    return key.substr(0, key.find('#'));
}

std::string_view nameOfMemberKey(std::string_view key)
{
    const std::size_t first = key.find('#');
    const std::size_t second = first == std::string_view::npos ? first : key.find('#', first + 1);
    return second == std::string_view::npos ? std::string_view{} : key.substr(second + 1);
}

int portNumber(std::string_view portText)
{
    long v = 0;
    std::size_t i = 0;
    for (; i < portText.size() && portText[i] >= '0' && portText[i] <= '9' && v <= 65535; ++i)
        v = v * 10 + (portText[i] - '0');
    return (v >= 1 && v <= 65535) ? static_cast<int>(v) : 0;
}

bool isDottedIPv4(std::string_view address)
{
    if (address.empty() || address.size() > kMaxAddressLength)
        return false;
    int parts = 0;
    std::size_t i = 0;
    while (i <= address.size()) {
        std::size_t digits = 0;
        int value = 0;
        while (i < address.size() && address[i] >= '0' && address[i] <= '9' && digits < 4) {
            value = value * 10 + (address[i] - '0');
            ++digits;
            ++i;
        }
        if (digits == 0 || digits > 3 || value > 255)
            return false;
        ++parts;
        if (i == address.size())
            break;
        if (address[i] != '.' || parts == 4)
            return false;
        ++i;
    }
    return parts == 4;
}

} // namespace orvalink::chat
