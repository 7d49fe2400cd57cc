#pragma once

// A folder's index read record by record when asked: the records are found by their length words
// once, and a record's texts are taken from the index bytes only when that record is wanted. A list
// of a folder of any size costs the records it shows, plus one pass over the length words.
//
// The view lists the whole records from the start of the index up to the first bytes that hold no
// whole record (a length word out of range, or a record the file ends inside); the bytes from there
// on are reported unreadable, never dropped from the file.

#include "store/IndexParser.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orvalink::store {

class IndexView {
public:
    IndexView() = default;
    explicit IndexView(std::string indexBytes);

    int count() const { return static_cast<int>(m_recordOffsets.size()); }
    // Record i with its mailbox offset and its place in the index; i must be below count().
    IndexEntry entry(int i) const;
    std::uint32_t status(int i) const;
    // The status as the file now holds it, after a write through markMessageRead.
    void setStatus(int i, std::uint32_t status);
    std::uint64_t indexOffset(int i) const { return m_recordOffsets[static_cast<std::size_t>(i)]; }
    std::uint64_t mailboxOffset(int i) const { return m_mailboxOffsets[static_cast<std::size_t>(i)]; }
    std::uint32_t bodySize(int i) const;
    int unreadCount() const { return m_unread; }

    // Index bytes after the last whole record that no record could be read from.
    std::uint64_t unreadableBytes() const { return m_bytes.size() - m_readableEnd; }

private:
    std::string m_bytes;
    std::vector<std::uint64_t> m_recordOffsets;
    std::vector<std::uint64_t> m_mailboxOffsets;
    std::uint64_t m_readableEnd = 0;
    int m_unread = 0;
};

} // namespace orvalink::store
