#include "folders/store/IndexParser.h"

#include <utility>

namespace orvalink::folders {

namespace {

// The texts of a whole record body; the body size is taken from its last four bytes whatever the
// texts hold, so that one odd record cannot shift the messages after it.
void parseBody(std::string_view body, IndexEntry& entry) {
    if (body.size() < 4) {
        entry.damaged = true;
        return;
    }
    entry.record.bodySize = readU32(body.data() + body.size() - 4);
    std::string_view texts = body.substr(0, body.size() - 4);
    std::string* fields[] = {&entry.record.sender,      &entry.record.subject,    &entry.record.recipient,
                             &entry.record.arrivalDate, &entry.record.headerDate, &entry.record.mailer};
    for (std::string* field : fields) {
        const std::size_t nul = texts.find('\0');
        if (nul == std::string_view::npos) {
            entry.damaged = true;
            return;
        }
        field->assign(texts.substr(0, nul));
        texts.remove_prefix(nul + 1);
    }
    if (!texts.empty())
        entry.damaged = true;
}

} // namespace

IndexListing parseIndex(std::string_view bytes) {
    IndexListing listing;
    std::uint64_t pos = 0;
    while (pos < bytes.size()) {
        const std::uint64_t left = bytes.size() - pos;
        if (left < kRecordHeaderBytes) {
            listing.cutShort = true;
            break;
        }
        const std::uint32_t length = readU32(bytes.data() + pos);
        if (length > left - kRecordHeaderBytes) {
            listing.cutShort = true;
            break;
        }
        IndexEntry entry;
        entry.record.status = readU32(bytes.data() + pos + 4);
        entry.offset = listing.mailboxBytes;
        parseBody(bytes.substr(pos + kRecordHeaderBytes, length), entry);
        listing.mailboxBytes += entry.record.bodySize;
        listing.entries.push_back(std::move(entry));
        pos += kRecordHeaderBytes + length;
    }
    listing.wholeBytes = pos;
    return listing;
}

} // namespace orvalink::folders
