#include "app/MailRowSource.h"

#include "mail/mime/HeaderWords.h"
#include "mail/mime/MailDate.h"
#include "platform/text/Cp932.h"
#include "store/IndexRecord.h"
#include "store/MailStore.h"

#include <algorithm>

namespace orvalink::app {

namespace {

// Decoded rows kept at once: a screenful many times over, and a bound on memory whatever the folder
// holds.
constexpr std::size_t kCachedRows = 512;

char foldAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

bool containsCp932Folded(std::string_view haystack, std::string_view needle)
{
    if (needle.empty())
        return true;
    for (std::size_t start = 0; start < haystack.size();) {
        std::size_t h = start;
        std::size_t n = 0;
        while (n < needle.size() && h < haystack.size()) {
            const auto nc = static_cast<unsigned char>(needle[n]);
            const auto hc = static_cast<unsigned char>(haystack[h]);
            if (platform::isCp932LeadByte(nc)) {
                if (n + 1 >= needle.size() || h + 1 >= haystack.size() || hc != nc || haystack[h + 1] != needle[n + 1])
                    break;
                n += 2;
                h += 2;
            } else {
                if (platform::isCp932LeadByte(hc) || foldAscii(haystack[h]) != foldAscii(needle[n]))
                    break;
                ++n;
                ++h;
            }
        }
        if (n == needle.size())
            return true;
        start += platform::isCp932LeadByte(static_cast<unsigned char>(haystack[start])) ? 2 : 1;
    }
    return false;
}

bool MailRowSource::load(const std::string& folderPath)
{
    m_folderPath = folderPath;
    m_cache.clear();
    endSort();
    // No mail directory, no folder: never a file named ".idx" wherever the program runs.
    if (folderPath.empty()) {
        m_view = store::IndexView();
        return true;
    }
    // The bytes are read once to find the records and let go at once.
    const std::optional<std::string> bytes = store::readFolderIndexBytes(folderPath);
    m_view = store::IndexView(bytes ? std::string_view(*bytes) : std::string_view());
    return bytes.has_value();
}

store::IndexEntry MailRowSource::entry(int i) const
{
    const std::optional<std::string> bytes =
        store::readFolderIndexRange(m_folderPath, m_view.indexOffset(i), m_view.recordBytes(i));
    return m_view.entry(i, bytes ? std::string_view(*bytes) : std::string_view());
}

template <typename Visit> void MailRowSource::forEachEntry(Visit visit) const
{
    if (m_view.count() == 0)
        return;
    const std::optional<std::string> bytes = store::readFolderIndexBytes(m_folderPath);
    const std::string_view all = bytes ? std::string_view(*bytes) : std::string_view();
    for (int i = 0; i < m_view.count(); ++i) {
        const std::uint64_t at = m_view.indexOffset(i);
        visit(i, m_view.entry(i, at < all.size() ? all.substr(at, m_view.recordBytes(i)) : std::string_view()));
    }
}

MailRowSource::Row MailRowSource::decode(const store::IndexEntry& e) const
{
    Row r;
    r.text[kSender] = mail::decodeHeaderWords(e.record.sender);
    r.text[kSubject] = mail::decodeHeaderWords(e.record.subject);
    // A received message shows the date its sender wrote; a saved one has only its saving time.
    r.text[kDate] = e.record.headerDate.empty() ? e.record.arrivalDate : e.record.headerDate;
    r.text[kSize] = std::to_string(e.record.bodySize);
    // A record no longer where the list found it shows nothing and counts as read.
    r.status = e.placed ? e.record.status : store::kStatusRead;
    r.bodySize = e.record.bodySize;
    return r;
}

const MailRowSource::Row& MailRowSource::row(int i) const
{
    if (const auto it = m_cache.find(i); it != m_cache.end())
        return it->second;
    if (m_cache.size() >= kCachedRows)
        m_cache.clear();
    return m_cache.emplace(i, decode(entry(i))).first->second;
}

void MailRowSource::prefetch(const std::vector<int>& rows) const
{
    std::vector<int> wanted;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
    for (const int i : rows) {
        if (i < 0 || i >= count() || m_cache.count(i) != 0)
            continue;
        wanted.push_back(i);
        ranges.emplace_back(m_view.indexOffset(i), m_view.recordBytes(i));
    }
    if (wanted.empty())
        return;
    if (m_cache.size() + wanted.size() > kCachedRows)
        m_cache.clear();
    const std::vector<std::string> records = store::readFolderIndexRanges(m_folderPath, ranges);
    for (std::size_t k = 0; k < wanted.size(); ++k)
        m_cache.emplace(wanted[k], decode(m_view.entry(wanted[k], k < records.size() ? std::string_view(records[k])
                                                                                     : std::string_view())));
}

bool MailRowSource::unread(int i) const
{
    return row(i).status != store::kStatusRead;
}

const std::string& MailRowSource::cellText(int i, int column) const
{
    static const std::string none;
    if (column < 0 || column >= kColumnCount)
        return none;
    return row(i).text[column];
}

std::optional<std::int64_t> MailRowSource::dateKey(int i) const
{
    return mail::parseMailDate(cellText(i, kDate));
}

void MailRowSource::prepareSort(int column)
{
    endSort();
    if (column < 0 || column >= kColumnCount)
        return;
    const auto n = static_cast<std::size_t>(count());
    if (column == kSize)
        m_sizeKeys.resize(n);
    else
        m_textKeys.resize(n);
    if (column == kDate)
        m_dateKeys.resize(n);
    forEachEntry([&](int i, const store::IndexEntry& e) {
        const auto k = static_cast<std::size_t>(i);
        if (column == kSize) {
            m_sizeKeys[k] = e.record.bodySize;
            return;
        }
        if (column == kDate) {
            m_textKeys[k] = e.record.headerDate.empty() ? e.record.arrivalDate : e.record.headerDate;
            m_dateKeys[k] = mail::parseMailDate(m_textKeys[k]);
            return;
        }
        m_textKeys[k] = mail::decodeHeaderWords(column == kSender ? e.record.sender : e.record.subject);
    });
    m_sortColumn = column;
}

void MailRowSource::endSort()
{
    m_sortColumn = -1;
    std::vector<std::string>().swap(m_textKeys);
    std::vector<std::optional<std::int64_t>>().swap(m_dateKeys);
    std::vector<std::uint32_t>().swap(m_sizeKeys);
}

int MailRowSource::compare(int column, int a, int b) const
{
    const bool prepared = column == m_sortColumn;
    const auto ka = static_cast<std::size_t>(a);
    const auto kb = static_cast<std::size_t>(b);
    if (column == kSize) {
        const auto sa = prepared ? m_sizeKeys[ka] : row(a).bodySize;
        const auto sb = prepared ? m_sizeKeys[kb] : row(b).bodySize;
        return sa < sb ? -1 : (sa > sb ? 1 : 0);
    }
    if (column == kDate) {
        // Dates that mean no moment come first, then by the moment.
        const auto da = prepared ? m_dateKeys[ka] : dateKey(a);
        const auto db = prepared ? m_dateKeys[kb] : dateKey(b);
        if (da != db)
            return !da ? -1 : (!db ? 1 : (*da < *db ? -1 : 1));
    }
    // By the texts' bytes (rows equal here keep their order: the sort is stable).
    if (prepared)
        return std::clamp(m_textKeys[ka].compare(m_textKeys[kb]), -1, 1);
    // A copy: the second lookup may empty the cache the first one points into.
    const std::string ta = cellText(a, column);
    return std::clamp(ta.compare(cellText(b, column)), -1, 1);
}

bool MailRowSource::matches(int i, std::string_view needle) const
{
    return containsCp932Folded(cellText(i, kSender), needle) || containsCp932Folded(cellText(i, kSubject), needle);
}

std::vector<std::uint32_t> MailRowSource::matching(std::string_view needle) const
{
    std::vector<std::uint32_t> rows;
    forEachEntry([&](int i, const store::IndexEntry& e) {
        if (needle.empty() || containsCp932Folded(mail::decodeHeaderWords(e.record.sender), needle) ||
            containsCp932Folded(mail::decodeHeaderWords(e.record.subject), needle))
            rows.push_back(static_cast<std::uint32_t>(i));
    });
    return rows;
}

std::optional<std::string> MailRowSource::message(int i) const
{
    return store::readFolderMessage(m_folderPath, entry(i));
}

bool MailRowSource::markRead(int i)
{
    if (!unread(i))
        return false;
    if (!store::markMessageRead(m_folderPath, m_view.indexOffset(i),
                                static_cast<std::uint32_t>(m_view.recordBytes(i) - store::kRecordHeaderBytes)))
        return false;
    m_view.markedRead();
    if (const auto it = m_cache.find(i); it != m_cache.end())
        it->second.status = store::kStatusRead;
    return true;
}

} // namespace orvalink::app
