#include "store/IndexView.h"

#include "store/IndexRecord.h"

namespace orvalink::store {

IndexView::IndexView(std::string_view indexBytes) : m_size(indexBytes.size())
{
    std::uint64_t pos = 0;
    std::uint64_t mailbox = 0;
    while (m_size - pos >= kRecordHeaderBytes + kMinRecordBody) {
        const std::uint32_t length = readU32(indexBytes.data() + pos);
        if (length < kMinRecordBody || length > kMaxRecordBody || length > m_size - pos - kRecordHeaderBytes)
            break;
        m_recordOffsets.push_back(pos);
        m_mailboxOffsets.push_back(mailbox);
        if (readU32(indexBytes.data() + pos + 4) != kStatusRead)
            ++m_unread;
        pos += kRecordHeaderBytes + length;
        mailbox += readU32(indexBytes.data() + pos - 4);
    }
    m_readableEnd = pos;
    m_recordOffsets.shrink_to_fit();
    m_mailboxOffsets.shrink_to_fit();
}

std::uint64_t IndexView::recordBytes(int i) const
{
    const auto next = static_cast<std::size_t>(i) + 1;
    return (next < m_recordOffsets.size() ? m_recordOffsets[next] : m_readableEnd) - indexOffset(i);
}

IndexEntry IndexView::entry(int i, std::string_view bytes) const
{
    IndexEntry e;
    e.indexOffset = indexOffset(i);
    e.indexBytes = recordBytes(i);
    e.offset = mailboxOffset(i);
    if (bytes.size() != e.indexBytes || readU32(bytes.data()) != e.indexBytes - kRecordHeaderBytes) {
        e.damaged = true;
        e.placed = false;
        return e;
    }
    const std::uint32_t length = readU32(bytes.data());
    e.record.status = readU32(bytes.data() + 4);
    e.record.bodySize = readU32(bytes.data() + kRecordHeaderBytes + length - 4);
    // The six texts lie before the body size; a record holding fewer terminated texts keeps those
    // it has.
    const std::string_view texts = bytes.substr(kRecordHeaderBytes, length - 4);
    std::string* fields[] = {&e.record.sender,      &e.record.subject,    &e.record.recipient,
                             &e.record.arrivalDate, &e.record.headerDate, &e.record.mailer};
    std::size_t at = 0;
    for (std::string* field : fields) {
        const std::size_t nul = texts.find('\0', at);
        if (nul == std::string_view::npos) {
            e.damaged = true;
            break;
        }
        *field = std::string(texts.substr(at, nul - at));
        at = nul + 1;
    }
    if (at != texts.size())
        e.damaged = true;
    return e;
}

} // namespace orvalink::store
