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
constexpr std::size_t kCachedRows = 2048;

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
    m_sortColumn = -1;
    m_textKeys.clear();
    m_dateKeys.clear();
    // No mail directory, no folder: never a file named ".idx" wherever the program runs.
    if (folderPath.empty()) {
        m_view = store::IndexView();
        return true;
    }
    std::optional<std::string> bytes = store::readFolderIndexBytes(folderPath);
    m_view = store::IndexView(bytes ? std::move(*bytes) : std::string());
    return bytes.has_value();
}

bool MailRowSource::unread(int i) const
{
    return m_view.status(i) != store::kStatusRead;
}

const MailRowSource::Cells& MailRowSource::cells(int i) const
{
    if (const auto it = m_cache.find(i); it != m_cache.end())
        return it->second;
    if (m_cache.size() >= kCachedRows)
        m_cache.clear();
    const store::IndexEntry e = m_view.entry(i);
    Cells c;
    c.text[kSender] = mail::decodeHeaderWords(e.record.sender);
    c.text[kSubject] = mail::decodeHeaderWords(e.record.subject);
    // A received message shows the date its sender wrote; a saved one has only its saving time.
    c.text[kDate] = e.record.headerDate.empty() ? e.record.arrivalDate : e.record.headerDate;
    c.text[kSize] = std::to_string(e.record.bodySize);
    return m_cache.emplace(i, std::move(c)).first->second;
}

const std::string& MailRowSource::cellText(int i, int column) const
{
    static const std::string none;
    if (column < 0 || column >= kColumnCount)
        return none;
    return cells(i).text[column];
}

std::optional<std::int64_t> MailRowSource::dateKey(int i) const
{
    return mail::parseMailDate(cellText(i, kDate));
}

void MailRowSource::prepareSort(int column)
{
    m_sortColumn = -1;
    m_textKeys.clear();
    m_dateKeys.clear();
    if (column != kSender && column != kSubject && column != kDate)
        return;
    for (int i = 0; i < count(); ++i) {
        if (column == kDate)
            m_dateKeys.push_back(dateKey(i));
        m_textKeys.push_back(cellText(i, column));
    }
    m_sortColumn = column;
}

int MailRowSource::compare(int column, int a, int b) const
{
    if (column == kSize) {
        const auto sa = m_view.bodySize(a);
        const auto sb = m_view.bodySize(b);
        return sa < sb ? -1 : (sa > sb ? 1 : 0);
    }
    const bool prepared = column == m_sortColumn;
    if (column == kDate) {
        // Dates that mean no moment come first, then by the moment.
        const auto da = prepared ? m_dateKeys[static_cast<std::size_t>(a)] : dateKey(a);
        const auto db = prepared ? m_dateKeys[static_cast<std::size_t>(b)] : dateKey(b);
        if (da != db)
            return !da ? -1 : (!db ? 1 : (*da < *db ? -1 : 1));
    }
    // By the texts' bytes (rows equal here keep their order: the sort is stable).
    if (prepared)
        return std::clamp(m_textKeys[static_cast<std::size_t>(a)].compare(m_textKeys[static_cast<std::size_t>(b)]), -1,
                          1);
    // A copy: the second lookup may empty the cache the first one points into.
    const std::string ta = cellText(a, column);
    return std::clamp(ta.compare(cellText(b, column)), -1, 1);
}

bool MailRowSource::matches(int i, std::string_view needle) const
{
    return containsCp932Folded(cellText(i, kSender), needle) || containsCp932Folded(cellText(i, kSubject), needle);
}

std::optional<std::string> MailRowSource::message(int i) const
{
    store::IndexEntry e = m_view.entry(i);
    return store::readFolderMessage(m_folderPath, e);
}

bool MailRowSource::markRead(int i)
{
    if (!unread(i))
        return false;
    const store::IndexEntry e = m_view.entry(i);
    if (!store::markMessageRead(m_folderPath, e.indexOffset,
                                static_cast<std::uint32_t>(e.indexBytes - store::kRecordHeaderBytes)))
        return false;
    m_view.setStatus(i, store::kStatusRead);
    return true;
}

} // namespace orvalink::app
