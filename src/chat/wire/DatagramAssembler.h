#pragma once

// Reassembly of received datagrams into the text handed to the receive handler. Parts are kept in
// arrival order and their payloads joined; the text is complete when a part's number equals the
// part count. Every sender writes single-part datagrams, whose text is exactly the payload.

#include "chat/wire/ChatDatagram.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace orvalink::chat {

class DatagramAssembler {
public:
    // Takes one received datagram from address:port. Returns the assembled text when this part
    // completes it. What cannot be used is discarded and the assembly emptied: a datagram whose
    // header does not read, or a text that would pass the assembly capacity. A partial assembly
    // is also dropped when a part comes from another sender or a new part 1 arrives, so that one
    // stray part never gets glued to the front of the next sender's message.
    std::optional<std::string> feed(std::string_view datagram, std::string_view address, unsigned port);

    std::size_t assembledLength() const { return m_length; }
    void reset();

private:
    std::array<char, kAssemblyCapacity> m_buffer{};
    std::size_t m_length = 0;
    bool m_partial = false;
    std::string m_address;
    unsigned m_port = 0;
};

} // namespace orvalink::chat
