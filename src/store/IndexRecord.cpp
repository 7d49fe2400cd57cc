#include "store/IndexRecord.h"

#include "platform/text/Cp932.h"

#include <cassert>

namespace orvalink::store {

std::string recordFieldText(std::string_view text)
{
    const std::size_t end = text.find_first_of(std::string_view("\0\r\n", 3));
    return std::string(end == std::string_view::npos ? text : text.substr(0, end));
}

std::string receivedFieldText(std::string_view text)
{
    const std::string field = recordFieldText(text);
    return std::string(platform::cp932Prefix(field, kMaxFieldBytes));
}

std::size_t recordBodyLength(const IndexRecord& record)
{
    return record.sender.size() + record.subject.size() + record.recipient.size() + record.arrivalDate.size() +
           record.headerDate.size() + record.mailer.size() + kMinRecordBody;
}

std::uint32_t readU32(const char* p)
{
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
           static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

void appendU32(std::string& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

std::string encodeIndexRecord(const IndexRecord& record)
{
    const std::string_view texts[] = {record.sender,      record.subject,    record.recipient,
                                      record.arrivalDate, record.headerDate, record.mailer};
    for ([[maybe_unused]] std::string_view t : texts)
        assert(t.find('\0') == std::string_view::npos);
    const std::size_t length = recordBodyLength(record);
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

} // namespace orvalink::store
