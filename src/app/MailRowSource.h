#pragma once

// The rows of one mail folder as the mail list reads them. Loading finds the folder's records in its
// index and keeps only where each one starts; a record is read from the index file and decoded for
// display when the list paints its row (a small cache keeps the rows in view). Sorting takes every
// row's key of the column once per sort, from one read of the index, and lets the keys go when the
// sort is done; the sizes compare as numbers and the dates by the moment they mean. Opening a
// message reads its bytes from the mailbox; marking it read writes its status word in the index file
// and nothing else.

#include "store/IndexView.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace orvalink::app {

class MailRowSource {
public:
    enum Column { kSender = 0, kSubject = 1, kDate = 2, kSize = 3, kColumnCount = 4 };

    // Reads the index of the folder whose files are folderPath + ".idx"/".mbx" (a file-system path
    // without extension); false when it exists but cannot be read (the source is then empty).
    bool load(const std::string& folderPath);
    const std::string& folderPath() const { return m_folderPath; }

    int count() const { return m_view.count(); }
    int unreadCount() const { return m_view.unreadCount(); }
    // Index bytes after the whole records that hold no readable record.
    std::uint64_t unreadableBytes() const { return m_view.unreadableBytes(); }
    bool unread(int i) const;
    // The cell's text for display, code page 932: encoded words decoded, the size in bytes.
    const std::string& cellText(int i, int column) const;
    // The date cell's moment, when its text holds a date.
    std::optional<std::int64_t> dateKey(int i) const;
    // Takes every row's key of the column once (one read of the index), so that the n log n
    // comparisons of a sort read and decode nothing; endSort lets the keys go.
    void prepareSort(int column);
    void endSort();
    // < 0 when row a comes before row b in ascending order of the column.
    int compare(int column, int a, int b) const;
    // Reads and decodes the rows not yet at hand in one read of the index (the rows a frame paints).
    void prefetch(const std::vector<int>& rows) const;
    bool isCached(int i) const { return m_cache.count(i) != 0; }
    // The sender or the subject holds `needle` (ASCII letters in either case).
    bool matches(int i, std::string_view needle) const;
    // The rows whose sender or subject holds `needle`, in record order (one read of the index).
    std::vector<std::uint32_t> matching(std::string_view needle) const;

    // Record i as the index now holds it (read from the file).
    store::IndexEntry entry(int i) const;
    // The message's bytes as stored; nullopt when the mailbox cannot be read.
    std::optional<std::string> message(int i) const;
    // Writes the read state of row i (4 bytes of the index file); false when nothing was written.
    bool markRead(int i);

private:
    struct Row {
        std::string text[kColumnCount];
        std::uint32_t status = 0;
        std::uint32_t bodySize = 0;
    };
    const Row& row(int i) const;
    Row decode(const store::IndexEntry& e) const;
    // Calls visit(i, entry) for every record, from one read of the index.
    template <typename Visit> void forEachEntry(Visit visit) const;

    std::string m_folderPath;
    store::IndexView m_view;
    mutable std::unordered_map<int, Row> m_cache;
    // The keys of the sort under way: the column's texts, dates or sizes by row.
    int m_sortColumn = -1;
    std::vector<std::string> m_textKeys;
    std::vector<std::optional<std::int64_t>> m_dateKeys;
    std::vector<std::uint32_t> m_sizeKeys;
};

// `haystack` holds `needle` at a character boundary, both code page 932; ASCII letters match in
// either case, the bytes of double-byte characters only exactly.
bool containsCp932Folded(std::string_view haystack, std::string_view needle);

} // namespace orvalink::app
