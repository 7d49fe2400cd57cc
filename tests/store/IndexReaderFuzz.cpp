// Random bytes as an index file: the reader must stay inside them, and what it reports must add
// up: records and unreadable stretches follow each other without gap or overlap, offsets are the
// running sum of body sizes, and a record read without damage encodes back to the same bytes.
#include "store/IndexParser.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orvalink::store {

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

bool fieldsEncodable(const IndexRecord& r)
{
    return recordBodyLength(r) <= kMaxRecordBody;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    IndexListing listing = parseIndex(bytes);

    // Records and unreadable stretches cover the index exactly once, in file order.
    std::uint64_t pos = 0;
    std::size_t gap = 0;
    std::uint64_t offset = 0;
    std::uint64_t sum = 0;
    const auto skipGaps = [&] {
        while (gap < listing.unreadable.size() && listing.unreadable[gap].begin == pos) {
            check(listing.unreadable[gap].end > pos && listing.unreadable[gap].end <= size);
            pos = listing.unreadable[gap].end;
            ++gap;
        }
    };
    for (const IndexEntry& e : listing.entries) {
        skipGaps();
        check(e.indexOffset == pos);
        check(e.indexBytes >= kRecordHeaderBytes && e.indexBytes <= size - pos);
        check(e.record.status == readU32(bytes.data() + pos + 4));
        const std::uint64_t length = e.indexBytes - kRecordHeaderBytes;
        if (length >= 4)
            check(e.record.bodySize == readU32(bytes.data() + pos + e.indexBytes - 4));
        if (!e.lengthWordWrong)
            check(readU32(bytes.data() + pos) == length);
        if (!e.damaged && !e.lengthWordWrong && fieldsEncodable(e.record))
            check(encodeIndexRecord(e.record) == bytes.substr(pos, e.indexBytes));
        // Records read from the start of the index are placed by the running sum of body sizes.
        check(e.placed == (gap == 0));
        if (gap == 0) {
            check(e.offset == offset);
            offset += e.record.bodySize;
        }
        sum += e.record.bodySize;
        pos += e.indexBytes;
    }
    skipGaps();
    check(pos == size && gap == listing.unreadable.size());
    check(sum == listing.mailboxBytes);
    check(listing.cutShort == (!listing.unreadable.empty() && listing.unreadable.back().end == size));

    // Placing against a mailbox never puts a message outside it or before the messages in front,
    // by sizes alone or looking for the messages in mailbox bytes (the input's bytes over again),
    // and looking never reads past the mailbox.
    const std::uint64_t mailboxSize = size > 0 ? data[0] * 97u : 0;
    const MailboxReader read = [&](std::uint64_t from, std::uint64_t count) {
        check(from <= mailboxSize && count <= mailboxSize - from);
        std::string out;
        for (std::uint64_t i = from; i < from + count; ++i)
            out.push_back(static_cast<char>(data[i % size]));
        return out;
    };
    for (const bool looking : {false, true}) {
        IndexListing placed = listing;
        placeMessages(placed, mailboxSize, looking ? read : MailboxReader());
        std::uint64_t end = 0;
        for (const IndexEntry& e : placed.entries) {
            if (!e.placed)
                continue;
            check(e.offset >= end);
            end = e.offset + e.record.bodySize;
            if (e.indexOffset > (placed.unreadable.empty() ? size : placed.unreadable.front().begin))
                check(end <= mailboxSize);
        }
        check(placed.placedEnd <= std::max(mailboxSize, placed.mailboxBytes));
    }
    return 0;
}

} // namespace orvalink::store
