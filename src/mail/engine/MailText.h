#pragma once

// The text of one outgoing mail as it goes after DATA. The header block holds, in this order:
//
//   Subject: <the subject>
//   To: <the To text>
//   X-Mailer: QelMail2000 Version 1.0
//   MIME-Version: 1.0
//   Content-Type: text/plain; charset=ISO-2022-JP
//   Content-Transfer-Encoding: 7bit
//   From: <the envelope sender's address>
//   Date: <RFC 5322 date>
//   Message-ID: <id>
//
// then an empty line and the body. A subject of ASCII only goes as typed; any other subject is
// written whole as RFC 2047 encoded words "=?ISO-2022-JP?B?...?=", folded so that no header line
// passes 76 characters. The body (Shift-JIS, lines separated by CR LF) is converted to ISO-2022-JP
// (half-width katakana as full-width), a line beginning with "." gets one more in front, and the
// end of data CR LF "." CR LF follows right after it (a body ending in CR LF therefore ends with
// an empty line before the dot). A line longer than kMaxBodyLine bytes once converted is broken
// between two characters into lines that fit, each beginning and ending in ASCII.
//
// Header texts are sent as typed except that a CR or LF in them becomes a blank, so no typed text
// can start a header line of its own. A lone CR or LF in the body is sent as CR LF: a bare line
// end is not allowed in SMTP data and would let a body end the data early on some servers.

#include <cstdint>
#include <string>
#include <string_view>

namespace orvalink::mail {

inline constexpr std::string_view kMailerLine = "X-Mailer: QelMail2000 Version 1.0";
inline constexpr std::string_view kEndOfData = "\r\n.\r\n";
// No header line the builder folds passes this many characters (CR LF not counted).
inline constexpr std::size_t kMaxFoldedLine = 76;
// No body line passes this many bytes (CR LF not counted), the most a mail line may hold.
inline constexpr std::size_t kMaxBodyLine = 998;

// A moment of sending: seconds since 1970-01-01 00:00 UTC and the local zone's offset from UTC.
struct MailTime {
    std::int64_t unixSeconds = 0;
    int utcOffsetMinutes = 0;

    bool operator==(const MailTime&) const = default;
};

// Now, with this machine's local offset.
MailTime currentMailTime();

// RFC 5322 date-time in the sender's zone: "Tue, 08 Dec 2026 16:55:00 +0900".
std::string formatMailDate(const MailTime& time);

// A fresh "<...@host>" for Message-ID: the time, the process, a counter and random bits on the
// left; the host name on the right ("localhost" when it is empty or not a plain domain name).
std::string newMessageId(const MailTime& time, std::string_view hostName);

// `hostName` when it is a plain domain name (letters, digits, "-" and inner dots), else "localhost".
std::string plainHostName(std::string_view hostName);

struct MailFields {
    std::string from;    // envelope sender's address
    std::string to;      // the To text
    std::string subject; // Shift-JIS as typed
    std::string body;    // Shift-JIS, lines separated by CR LF
    std::string date;    // formatMailDate(...)
    std::string messageId;
};

// The "Subject: " line(s) without the final CR LF; continuation lines begin with a blank.
std::string subjectHeader(std::string_view subject);

// The header block, each line ending CR LF, then the empty line.
std::string headerBlock(const MailFields& fields);

// The body converted and dot-stuffed, without the end of data.
std::string bodyText(std::string_view body);

// headerBlock + bodyText + kEndOfData: everything written after the server's "354".
std::string mailText(const MailFields& fields);

// RFC 4648 base64 with padding: the encoded words of the subject, and SMTP AUTH's user and password.
void appendBase64(std::string_view bytes, std::string& out);
std::string base64(std::string_view bytes);

} // namespace orvalink::mail
