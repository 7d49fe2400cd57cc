// The receive path of a group socket over random input: the input is cut into datagrams (a length
// byte before each), fed to one assembler from two alternating senders, and each delivered text is
// split into its fields. Checks that nothing overruns and that every view lies inside its text.
#include "chat/wire/ChatDatagram.h"
#include "chat/wire/DatagramAssembler.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace orvalink::chat {

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static chat::DatagramAssembler assembler;
    assembler.reset();
    std::string_view in(reinterpret_cast<const char*>(data), size);
    bool other = false;
    while (!in.empty()) {
        const std::size_t len = static_cast<unsigned char>(in[0]) * 4u;
        in.remove_prefix(1);
        const std::string_view datagram = in.substr(0, len);
        in.remove_prefix(datagram.size());
        other = !other;
        const auto text = assembler.feed(datagram, other ? "10.0.0.1" : "10.0.0.2", other ? 12121 : 12122);
        if (assembler.assembledLength() > chat::kAssemblyCapacity)
            std::abort();
        if (!text)
            continue;
        if (text->size() > chat::kAssemblyCapacity)
            std::abort();
        const auto p = chat::parsePayload(*text);
        const char* b = text->data();
        const char* e = b + text->size();
        for (std::string_view v : {p.name, p.text})
            if (!v.empty() && (v.data() < b || v.data() + v.size() > e))
                std::abort();
        (void)chat::memberKey("10.0.0.1", 12121, p.name);
        (void)chat::isDottedIPv4(p.text.substr(0, 20));
    }
    return 0;
}

} // namespace orvalink::chat
