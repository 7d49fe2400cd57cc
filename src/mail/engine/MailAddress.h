#pragma once

// The one rule for an address the program puts into an SMTP envelope (MAIL FROM, RCPT TO): a single
// RFC 5321 mailbox, local-part "@" domain, in plain ASCII. Anything else is refused before a
// connection is made, so no typed text can add a parameter to an envelope command ("a@x>
// NOTIFY=NEVER"), a second recipient or raw 8-bit bytes to what goes on the wire.
//
//   local-part  a dot-string (atext runs joined by single dots) or a quoted string whose content
//               is printable ASCII other than the blank; at most 64 bytes
//   domain      dot-separated labels of letters, digits and inner hyphens, or an address literal
//               "[...]" of printable ASCII; at most 255 bytes
//
// Blanks, angle brackets, control bytes and bytes above 0x7F are never part of a mailbox.

#include <string>
#include <string_view>

namespace orvalink::mail {

// The most an envelope address may hold (RFC 5321 4.5.3.1: the path is 256 with its brackets).
inline constexpr std::size_t kMaxMailboxLength = 254;

bool isMailbox(std::string_view address);

// What the compose window shows when it refuses to send (code page 932): which address is wrong
// and how to write one; nothing was sent.
//   受取人のメールアドレスが正しくありません。名前@ドメインの形のアドレスを一つだけ、...
std::string badToAddressText();
//   差出人のメールアドレス（メール設定の「E-Mailアドレス」）が正しくありません。名前@ドメイン...
std::string badFromAddressText();

} // namespace orvalink::mail
