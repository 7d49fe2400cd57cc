// Random bytes as an index file: the reader must stay inside them, and what it reports must add
// up: whole records end where the next begins, offsets are the running sum of body sizes, and a
// record read without damage encodes back to the same bytes.
#include "folders/store/IndexParser.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

using namespace orvalink::folders;

namespace {

void check(bool condition) {
    if (!condition)
        __builtin_trap();
}

bool fieldsEncodable(const IndexRecord& r) {
    for (const std::string* t : {&r.sender, &r.subject, &r.recipient, &r.arrivalDate, &r.headerDate, &r.mailer})
        if (t->size() > kMaxFieldBytes)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const IndexListing listing = parseIndex(bytes);
    check(listing.wholeBytes <= size);
    check(listing.cutShort == (listing.wholeBytes < size));

    std::uint64_t pos = 0;
    std::uint64_t offset = 0;
    for (const IndexEntry& e : listing.entries) {
        check(e.offset == offset);
        const std::uint32_t length = readU32(bytes.data() + pos);
        check(e.record.status == readU32(bytes.data() + pos + 4));
        if (length >= 4)
            check(e.record.bodySize == readU32(bytes.data() + pos + kRecordHeaderBytes + length - 4));
        if (!e.damaged && fieldsEncodable(e.record))
            check(encodeIndexRecord(e.record) == bytes.substr(pos, kRecordHeaderBytes + length));
        pos += kRecordHeaderBytes + length;
        offset += e.record.bodySize;
    }
    check(pos == listing.wholeBytes);
    check(offset == listing.mailboxBytes);
    return 0;
}
