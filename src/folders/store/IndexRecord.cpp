#include "folders/store/IndexRecord.h"

#include "platform/text/Cp932.h"

#include <cassert>

namespace orvalink::folders {

std::string recordFieldText(std::string_view text) {
    const std::size_t end = text.find_first_of(std::string_view("\0\r\n", 3));
    if (end != std::string_view::npos)
        text = text.substr(0, end);
    return std::string(text::cp932Prefix(text, kMaxFieldBytes));
}

std::uint32_t readU32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
           static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

void appendU32(std::string& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

std::string encodeIndexRecord(const IndexRecord& record) {
    const std::string_view texts[] = {record.sender,      record.subject,    record.recipient,
                                      record.arrivalDate, record.headerDate, record.mailer};
    std::size_t length = 4;
    for (std::string_view t : texts) {
        assert(t.size() <= kMaxFieldBytes && t.find('\0') == std::string_view::npos);
        length += t.size() + 1;
    }
    // Six fields of at most kMaxFieldBytes each cannot pass the format's limit.
    assert(length <= kMaxRecordBody);

    std::string out;
    out.reserve(kRecordHeaderBytes + length);
    appendU32(out, static_cast<std::uint32_t>(length));
    appendU32(out, record.status);
    for (std::string_view t : texts) {
        out.append(t);
        out.push_back('\0');
    }
    appendU32(out, record.bodySize);
    return out;
}

} // namespace orvalink::folders
