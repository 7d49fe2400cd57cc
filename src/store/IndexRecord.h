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

namespace orvalink::store {

inline constexpr std::uint32_t kStatusRead = 0;
inline constexpr std::uint32_t kStatusUnread = 1;

// The longest text a field of a received message holds; longer values are cut on a character
// boundary. A composition's texts are not cut: only the record as a whole is bounded.
inline constexpr std::size_t kMaxFieldBytes = 999;
// The longest record body the format allows.
inline constexpr std::size_t kMaxRecordBody = 65536;
// The shortest whole record body: six empty texts and the body size.
inline constexpr std::size_t kMinRecordBody = 6 + 4;
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
// them). Nothing else is cut.
std::string recordFieldText(std::string_view text);

// A field taken from a received message: a record field text of at most kMaxFieldBytes bytes, cut
// so that no double-byte character is split.
std::string receivedFieldText(std::string_view text);

// The record body length L of `record`: its six texts, their terminators and the body size.
std::size_t recordBodyLength(const IndexRecord& record);

// The bytes of one whole record. The texts must already be field texts (see recordFieldText) and
// the body must fit kMaxRecordBody.
std::string encodeIndexRecord(const IndexRecord& record);

std::uint32_t readU32(const char* p);
void appendU32(std::string& out, std::uint32_t value);

} // namespace orvalink::store
