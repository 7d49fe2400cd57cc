#pragma once

// A folder's index as a list shows it: the records are found by their length words in one pass, and
// only where each record starts (in the index and in the mailbox) is kept, never its bytes. A record
// is read from the index file when it is wanted (readFolderIndexRange) and taken apart by entry().
// A list of a folder of any size costs two numbers per record plus the records it shows.
//
// The view lists the whole records from the start of the index up to the first bytes that hold no
// whole record (a length word out of range, or a record the file ends inside); the bytes from there
// on are reported unreadable, never dropped from the file.

#include "store/IndexParser.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace orvalink::store {

class IndexView {
public:
    IndexView() = default;
    // Finds the records of the index file's bytes; keeps none of them.
    explicit IndexView(std::string_view indexBytes);

    int count() const { return static_cast<int>(m_recordOffsets.size()); }
    std::uint64_t indexOffset(int i) const { return m_recordOffsets[static_cast<std::size_t>(i)]; }
    std::uint64_t mailboxOffset(int i) const { return m_mailboxOffsets[static_cast<std::size_t>(i)]; }
    // The bytes record i takes in the index (length word and status included).
    std::uint64_t recordBytes(int i) const;
    // Record i taken apart from its bytes as read at indexOffset(i) (recordBytes(i) of them), with
    // its mailbox offset and its place in the index; damaged when the bytes are not the record the
    // view found there (the index changed under it).
    IndexEntry entry(int i, std::string_view bytes) const;

    // Records whose status word said unread when the view was made, less those marked read since.
    int unreadCount() const { return m_unread; }
    void markedRead() { m_unread = m_unread > 0 ? m_unread - 1 : 0; }
    // Index bytes after the last whole record that no record could be read from.
    std::uint64_t unreadableBytes() const { return m_size - m_readableEnd; }

private:
    std::vector<std::uint64_t> m_recordOffsets;
    std::vector<std::uint64_t> m_mailboxOffsets;
    std::uint64_t m_size = 0;
    std::uint64_t m_readableEnd = 0;
    int m_unread = 0;
};

} // namespace orvalink::store
