#include "store/IndexView.h"

#include "store/IndexRecord.h"

#include <cstring>

namespace orvalink::store {

IndexView::IndexView(std::string indexBytes) : m_bytes(std::move(indexBytes))
{
    std::uint64_t pos = 0;
    std::uint64_t mailbox = 0;
    const std::uint64_t size = m_bytes.size();
    while (size - pos >= kRecordHeaderBytes + kMinRecordBody) {
        const std::uint32_t length = readU32(m_bytes.data() + pos);
        if (length < kMinRecordBody || length > kMaxRecordBody || length > size - pos - kRecordHeaderBytes)
            break;
        m_recordOffsets.push_back(pos);
        m_mailboxOffsets.push_back(mailbox);
        if (readU32(m_bytes.data() + pos + 4) != kStatusRead)
            ++m_unread;
        pos += kRecordHeaderBytes + length;
        mailbox += readU32(m_bytes.data() + pos - 4);
    }
    m_readableEnd = pos;
}

std::uint32_t IndexView::status(int i) const
{
    return readU32(m_bytes.data() + indexOffset(i) + 4);
}

std::uint32_t IndexView::bodySize(int i) const
{
    const std::uint64_t at = indexOffset(i);
    return readU32(m_bytes.data() + at + kRecordHeaderBytes + readU32(m_bytes.data() + at) - 4);
}

void IndexView::setStatus(int i, std::uint32_t status)
{
    const std::uint32_t old = this->status(i);
    if ((old != kStatusRead) != (status != kStatusRead))
        m_unread += status != kStatusRead ? 1 : -1;
    std::string word;
    appendU32(word, status);
    std::memcpy(m_bytes.data() + indexOffset(i) + 4, word.data(), 4);
}

IndexEntry IndexView::entry(int i) const
{
    IndexEntry e;
    e.indexOffset = indexOffset(i);
    const char* record = m_bytes.data() + e.indexOffset;
    const std::uint32_t length = readU32(record);
    e.indexBytes = kRecordHeaderBytes + length;
    e.offset = mailboxOffset(i);
    e.record.status = readU32(record + 4);
    e.record.bodySize = readU32(record + kRecordHeaderBytes + length - 4);
    // The six texts lie before the body size; a record holding fewer terminated texts keeps those
    // it has.
    const std::string_view texts(record + kRecordHeaderBytes, length - 4);
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
