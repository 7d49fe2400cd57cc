#pragma once

// Reading an index file's bytes into records and the mailbox offset of each message.
//
// The reader lists every record it can read and says where it could not. Damage in the middle of
// an index never hides what follows it: a record whose length word is wrong is read by its texts,
// and after bytes that hold no record at all, reading goes on at the next whole record.

#include "store/IndexRecord.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace orvalink::store {

struct IndexEntry {
    IndexRecord record;
    // Where the message starts in the mailbox: the sum of the body sizes of all records before it.
    // Only meaningful when `placed`.
    std::uint64_t offset = 0;
    // The message's place in the mailbox is known. Records before any unreadable index bytes are
    // placed from the start of the mailbox; the records after the last unreadable bytes are placed
    // where their messages are found, or else back from the end of the mailbox (see
    // placeMessages); records between two stretches of unreadable bytes cannot be placed.
    bool placed = true;
    // Where the record lies in the index file, and how many bytes it takes there.
    std::uint64_t indexOffset = 0;
    std::uint64_t indexBytes = 0;
    // The record body is whole but does not hold six terminated texts before the body size (a
    // file damaged or written by something else). The texts found are kept, the rest are empty;
    // the body size is still the last four bytes of the body, so later offsets stay right.
    bool damaged = false;
    // The record's length word does not match its texts; the record was read by its six texts and
    // the body size after them, and ends there.
    bool lengthWordWrong = false;
};

// Index bytes from which no record could be read.
struct IndexGap {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
};

struct IndexListing {
    std::vector<IndexEntry> entries;
    // The stretches of the index that hold no readable record, in file order.
    std::vector<IndexGap> unreadable;
    // The sum of all listed body sizes.
    std::uint64_t mailboxBytes = 0;
    // The index ends inside bytes that are no whole record (the last gap reaches the end).
    bool cutShort = false;
    // Set by placeMessages: the mailbox's length, and where the placed messages end; bytes from
    // there to the mailbox's end belong to no record the reader can read.
    std::uint64_t mailboxSize = 0;
    std::uint64_t placedEnd = 0;

    // The mailbox bytes from placedEnd to its end follow every record's message: no record hidden
    // in unreadable index bytes can own them, and the next append gives them a record of their own.
    bool endUnclaimed() const { return placedEnd < mailboxSize && (!recordsFollowAGap() || entries.back().placed); }

    // Some readable record follows unreadable bytes. Then mailbox bytes that the readable records
    // do not account for may belong to records hidden in the gap.
    bool recordsFollowAGap() const
    {
        return !unreadable.empty() && !entries.empty() && entries.back().indexOffset > unreadable.front().begin;
    }
};

IndexListing parseIndex(std::string_view bytes);

// Reads `size` bytes of the mailbox from `offset`; fewer where it ends or cannot be read.
using MailboxReader = std::function<std::string(std::uint64_t offset, std::uint64_t size)>;

// The most mailbox bytes that may lie between the placed records and those after unreadable index
// bytes for which the messages of the latter are looked for.
inline constexpr std::uint64_t kMaxMessageSearchBytes = std::uint64_t{8} << 20;

// Places the records that follow unreadable index bytes, given the mailbox's length, provided that
// leaves room for the records placed before them. Every append adds its message at the end of the
// mailbox and its record at the end of the index, so the records after the last gap lie together;
// the mailbox bytes that no readable record accounts for lie before them (the messages of records
// hidden in the gap) or after them (messages whose records were never written). With `read`, the
// received messages among them are looked for in the mailbox: the records are placed where the
// first and the last of those messages are found, the latest such place first. Otherwise (no
// reader, no received message, or none found) they end where the mailbox ends. Also sets
// mailboxSize and placedEnd.
void placeMessages(IndexListing& listing, std::uint64_t mailboxSize, const MailboxReader& read = {});

} // namespace orvalink::store
