#pragma once

// Reading an index file's bytes into records and the mailbox offset of each message.

#include "folders/store/IndexRecord.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace orvalink::folders {

struct IndexEntry {
    IndexRecord record;
    // Where the message starts in the mailbox: the sum of the body sizes of all records before it.
    std::uint64_t offset = 0;
    // The record body is whole but does not hold six terminated texts before the body size (a
    // file damaged or written by something else). The texts found are kept, the rest are empty;
    // the body size is still the last four bytes of the body, so later offsets stay right.
    bool damaged = false;
};

struct IndexListing {
    std::vector<IndexEntry> entries;
    // Bytes of the index taken by whole records. A final record cut short (the file ends inside
    // it) is not listed; it starts at wholeBytes.
    std::uint64_t wholeBytes = 0;
    // The sum of all listed body sizes: the length the mailbox file should have.
    std::uint64_t mailboxBytes = 0;
    bool cutShort = false;
};

IndexListing parseIndex(std::string_view bytes);

} // namespace orvalink::folders
