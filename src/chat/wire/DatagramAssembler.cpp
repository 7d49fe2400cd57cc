#include "chat/wire/DatagramAssembler.h"

#include <cstring>

namespace orvalink::chat {

void DatagramAssembler::reset()
{
    m_length = 0;
    m_partial = false;
    m_address.clear();
    m_port = 0;
}

std::optional<std::string> DatagramAssembler::feed(std::string_view datagram, std::string_view address, unsigned port)
{
    const auto header = parseHeader(datagram);
    if (!header) {
        reset();
        return std::nullopt;
    }
    if (m_partial && (header->partNumber == 1 || address != m_address || port != m_port))
        reset();

    const std::string_view payload = datagram.substr(kHeaderLength);
    if (payload.size() > kAssemblyCapacity - m_length) {
        reset();
        return std::nullopt;
    }
    std::memcpy(m_buffer.data() + m_length, payload.data(), payload.size());
    m_length += payload.size();

    if (header->partNumber == header->partCount) {
        std::string text(m_buffer.data(), m_length);
        reset();
        return text;
    }
    m_partial = true;
    m_address.assign(address);
    m_port = port;
    return std::nullopt;
}

} // namespace orvalink::chat
