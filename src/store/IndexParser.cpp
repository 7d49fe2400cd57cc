#include "store/IndexParser.h"

#include "store/ReceivedHeaderScan.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

namespace orvalink::store {

namespace {

// A record as the program writes it starts at `pos`: its length word fits the file and its body
// is exactly six terminated texts and the body size. The record's whole size (header included).
std::optional<std::uint64_t> exactRecordAt(std::string_view bytes, std::uint64_t pos)
{
    if (bytes.size() - pos < kRecordHeaderBytes)
        return std::nullopt;
    const std::uint64_t length = readU32(bytes.data() + pos);
    if (length < kMinRecordBody || length > bytes.size() - pos - kRecordHeaderBytes)
        return std::nullopt;
    const char* texts = bytes.data() + pos + kRecordHeaderBytes;
    const std::size_t textBytes = static_cast<std::size_t>(length) - 4;
    if (texts[textBytes - 1] != '\0')
        return std::nullopt;
    int terminators = 0;
    for (const char* p = texts; p != texts + textBytes; ++p) {
        p = static_cast<const char*>(std::memchr(p, '\0', static_cast<std::size_t>(texts + textBytes - p)));
        if (p == nullptr || ++terminators > 6)
            break;
    }
    if (terminators != 6)
        return std::nullopt;
    return kRecordHeaderBytes + length;
}

// A record whose length word may be wrong starts at `pos`: six terminated texts follow the status
// word, then a body size, no longer together than the format allows; and the record ends at the
// end of the file or where a record as the program writes it starts. The size it really takes.
std::optional<std::uint64_t> recordByTextsAt(std::string_view bytes, std::uint64_t pos)
{
    if (bytes.size() - pos < kRecordHeaderBytes)
        return std::nullopt;
    const std::uint64_t bodyStart = pos + kRecordHeaderBytes;
    const std::uint64_t searchEnd = std::min<std::uint64_t>(bytes.size(), bodyStart + kMaxRecordBody - 4);
    std::uint64_t p = bodyStart;
    for (int terminators = 0; terminators < 6; ++terminators) {
        const void* nul = std::memchr(bytes.data() + p, '\0', static_cast<std::size_t>(searchEnd - p));
        if (nul == nullptr)
            return std::nullopt;
        p = static_cast<std::uint64_t>(static_cast<const char*>(nul) - bytes.data()) + 1;
    }
    const std::uint64_t end = p + 4;
    if (end > bytes.size())
        return std::nullopt;
    if (end != bytes.size() && !exactRecordAt(bytes, end))
        return std::nullopt;
    return end - pos;
}

// A record as written, no longer than the format allows, starts at `pos` and is followed by the end
// of the file or by another readable record.
bool recordChainsAt(std::string_view bytes, std::uint64_t pos)
{
    if (bytes.size() - pos < kRecordHeaderBytes || readU32(bytes.data() + pos) > kMaxRecordBody)
        return false;
    const auto exact = exactRecordAt(bytes, pos);
    if (!exact)
        return false;
    const std::uint64_t end = pos + *exact;
    return end == bytes.size() || exactRecordAt(bytes, end) || recordByTextsAt(bytes, end);
}

// The texts of a whole record body; the body size is taken from its last four bytes whatever the
// texts hold, so that one odd record cannot shift the messages after it.
void parseBody(std::string_view body, IndexEntry& entry)
{
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

// How many bytes the record at `pos` takes, or nothing when no record can be read there. In this
// order: a record as written; a record whose length word is wrong, read by its texts; a record
// whose length word fits but whose texts are odd, taken as long as its length word says when a
// readable record (or the end of the file) follows it.
std::optional<std::uint64_t> recordAt(std::string_view bytes, std::uint64_t pos, bool& lengthWordWrong)
{
    lengthWordWrong = false;
    // A record cut short after its texts, with more records appended after it, would take the
    // start of the next record as its body size: it is no record when a record that reads on
    // starts within its last four bytes.
    if (const auto exact = exactRecordAt(bytes, pos)) {
        const std::uint64_t end = pos + *exact;
        bool overlaps = false;
        for (std::uint64_t r = end - 4; r < end && !overlaps; ++r)
            overlaps = recordChainsAt(bytes, r);
        if (!overlaps)
            return exact;
    }
    if (const auto byTexts = recordByTextsAt(bytes, pos)) {
        lengthWordWrong = true;
        return byTexts;
    }
    if (bytes.size() - pos < kRecordHeaderBytes)
        return std::nullopt;
    const std::uint64_t length = readU32(bytes.data() + pos);
    if (length > bytes.size() - pos - kRecordHeaderBytes)
        return std::nullopt;
    const std::uint64_t end = pos + kRecordHeaderBytes + length;
    if (end == bytes.size() || exactRecordAt(bytes, end) || recordByTextsAt(bytes, end))
        return kRecordHeaderBytes + length;
    return std::nullopt;
}

// The first position after `pos` where a record as written starts and is followed by the end of
// the file or by another readable record: where reading goes on after unreadable bytes.
std::uint64_t nextRecordAfter(std::string_view bytes, std::uint64_t pos)
{
    for (std::uint64_t r = pos + 1; r + kRecordHeaderBytes + kMinRecordBody <= bytes.size(); ++r) {
        if (recordChainsAt(bytes, r))
            return r;
    }
    return bytes.size();
}

} // namespace

IndexListing parseIndex(std::string_view bytes)
{
    IndexListing listing;
    std::uint64_t pos = 0;
    std::uint64_t forward = 0;
    while (pos < bytes.size()) {
        bool lengthWordWrong = false;
        const std::optional<std::uint64_t> size = recordAt(bytes, pos, lengthWordWrong);
        if (!size) {
            const std::uint64_t next = nextRecordAfter(bytes, pos);
            listing.unreadable.push_back({pos, next});
            pos = next;
            continue;
        }
        IndexEntry entry;
        entry.record.status = readU32(bytes.data() + pos + 4);
        entry.indexOffset = pos;
        entry.indexBytes = *size;
        entry.lengthWordWrong = lengthWordWrong;
        parseBody(bytes.substr(pos + kRecordHeaderBytes, *size - kRecordHeaderBytes), entry);
        entry.placed = listing.unreadable.empty();
        if (entry.placed) {
            entry.offset = forward;
            forward += entry.record.bodySize;
        }
        listing.mailboxBytes += entry.record.bodySize;
        listing.entries.push_back(std::move(entry));
        pos += *size;
    }
    listing.cutShort = !listing.unreadable.empty() && listing.unreadable.back().end == bytes.size();
    listing.placedEnd = forward;
    return listing;
}

namespace {

// The received message of `entry` lies at `offset`: the texts its record holds are the ones its
// first bytes give, and it ends a line, as every received message is stored. With `afterLineEnd`,
// the bytes before it end a line too (or it starts the mailbox).
bool receivedMessageAt(const IndexEntry& entry, std::uint64_t offset, const MailboxReader& read, bool afterLineEnd)
{
    const std::uint64_t size = entry.record.bodySize;
    const std::uint64_t searched = std::min<std::uint64_t>(size, kHeaderSearchBytes);
    const std::uint64_t before = afterLineEnd && offset > 0 ? 1 : 0;
    const std::string bytes = read(offset - before, before + searched);
    if (bytes.size() != before + searched || (before == 1 && bytes.front() != '\n'))
        return false;
    if (size > 0 && (size == searched ? bytes.substr(bytes.size() - 1) : read(offset + size - 1, 1)) != "\n")
        return false;
    return sameReceivedTexts(scanReceivedHeaders(std::string_view(bytes).substr(before)), entry.record);
}

// Where the records from `first` on, which lie together, start in the mailbox: at most `highest`,
// at least `lowest`, found by the received messages among them. Nothing when they hold no received
// message or their messages are found nowhere in that stretch.
std::optional<std::uint64_t> findRecordsByContent(const std::vector<IndexEntry>& entries, std::size_t first,
                                                  std::uint64_t lowest, std::uint64_t highest,
                                                  const MailboxReader& read)
{
    // The first and the last received message, and their offsets from where the records start.
    std::optional<std::size_t> firstReceived;
    std::optional<std::size_t> lastReceived;
    std::uint64_t firstOffset = 0;
    std::uint64_t lastOffset = 0;
    std::uint64_t offset = 0;
    for (std::size_t k = first; k < entries.size(); ++k) {
        if (entries[k].record.status == kStatusUnread && !entries[k].damaged) {
            if (!firstReceived) {
                firstReceived = k;
                firstOffset = offset;
            }
            lastReceived = k;
            lastOffset = offset;
        }
        offset += entries[k].record.bodySize;
    }
    if (!firstReceived)
        return std::nullopt;
    // Bytes before the records that end no line cannot be the end of a received message.
    const IndexEntry& firstEntry = entries[*firstReceived];
    const bool afterLineEnd = *firstReceived == first;
    const auto foundAt = [&](std::uint64_t start) {
        return receivedMessageAt(firstEntry, start + firstOffset, read, afterLineEnd) &&
               (lastReceived == firstReceived ||
                receivedMessageAt(entries[*lastReceived], start + lastOffset, read, false));
    };
    if (foundAt(highest))
        return highest;
    if (highest - lowest > kMaxMessageSearchBytes)
        return std::nullopt;
    // The bytes where the first received message may start, and as far on as its search range goes.
    const std::uint64_t searched = std::min<std::uint64_t>(firstEntry.record.bodySize, kHeaderSearchBytes);
    const std::string window = read(lowest + firstOffset, highest - lowest + searched);
    // A first message found where the rest is not is looked for further back a few times at most.
    constexpr int kMaxTries = 16;
    std::uint64_t last = highest - lowest;
    for (int tries = 0; tries < kMaxTries && last > 0; ++tries) {
        const std::optional<std::size_t> found =
            findReceivedMessage(window, static_cast<std::size_t>(last - 1), searched, firstEntry.record);
        if (!found)
            return std::nullopt;
        if (foundAt(lowest + *found))
            return lowest + *found;
        last = *found;
    }
    return std::nullopt;
}

} // namespace

void placeMessages(IndexListing& listing, std::uint64_t mailboxSize, const MailboxReader& read)
{
    listing.mailboxSize = mailboxSize;
    if (listing.unreadable.empty())
        return;
    // The records after the last gap, and where the records read from the start end.
    const std::uint64_t lastGap = listing.unreadable.back().begin;
    std::uint64_t forwardEnd = 0;
    std::uint64_t tailBytes = 0;
    std::size_t tailStart = listing.entries.size();
    for (std::size_t k = 0; k < listing.entries.size(); ++k) {
        const IndexEntry& e = listing.entries[k];
        if (e.placed)
            forwardEnd = e.offset + e.record.bodySize;
        if (e.indexOffset > lastGap) {
            tailStart = std::min(tailStart, k);
            tailBytes += e.record.bodySize;
        }
    }
    if (tailStart == listing.entries.size() || tailBytes > mailboxSize || mailboxSize - tailBytes < forwardEnd)
        return;
    std::uint64_t offset = mailboxSize - tailBytes;
    if (read && offset > forwardEnd) {
        if (const auto found = findRecordsByContent(listing.entries, tailStart, forwardEnd, offset, read))
            offset = *found;
    }
    for (std::size_t k = tailStart; k < listing.entries.size(); ++k) {
        listing.entries[k].placed = true;
        listing.entries[k].offset = offset;
        offset += listing.entries[k].record.bodySize;
    }
    listing.placedEnd = offset;
}

} // namespace orvalink::store
