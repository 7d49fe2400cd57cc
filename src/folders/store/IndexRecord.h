#pragma once

// One index record of a mail folder: the per-message summary kept in F.idx.
//
// Layout on disk (integers 32-bit unsigned little-endian):
//   u32 L        bytes of the record body that follow the status word
//   u32 status   1 = unread (filed received mail), 0 = read (saved composition)
//   body         sender NUL subject NUL recipient NUL arrival date NUL header date NUL mailer NUL u32 body size
// L is the six text lengths + 6 terminators + 4, so the body size is always the last four bytes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orvalink::folders {

inline constexpr std::uint32_t kStatusRead = 0;
inline constexpr std::uint32_t kStatusUnread = 1;

// The longest text a record field holds; longer values are cut on a character boundary.
inline constexpr std::size_t kMaxFieldBytes = 999;
// The longest record body the format allows.
inline constexpr std::size_t kMaxRecordBody = 65536;
// Bytes before the record body: the length word and the status word.
inline constexpr std::size_t kRecordHeaderBytes = 8;

struct IndexRecord {
    std::uint32_t status = kStatusUnread;
    std::string sender;
    std::string subject;
    std::string recipient;
    std::string arrivalDate;
    std::string headerDate;
    std::string mailer;
    std::uint32_t bodySize = 0;

    bool operator==(const IndexRecord&) const = default;
};

// A text as a record field may hold it: no NUL and no line break (the value ends at the first of
// them) and at most kMaxFieldBytes bytes, cut so that no double-byte character is split.
std::string recordFieldText(std::string_view text);

// The bytes of one whole record. The texts must already be field texts (see recordFieldText).
std::string encodeIndexRecord(const IndexRecord& record);

std::uint32_t readU32(const char* p);
void appendU32(std::string& out, std::uint32_t value);

} // namespace orvalink::folders
