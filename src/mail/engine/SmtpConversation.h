#pragma once

// The SMTP conversation of one compose window, without any socket: the window's glue connects,
// feeds every chunk it reads into feed(), writes what each step says to send, and shows the
// step's message. One conversation delivers one mail to exactly one recipient:
//
//   state 1 WaitGreeting  "220"  -> HELO <this machine's host name>
//   state 2 WaitHelo      "250"  -> MAIL FROM:<account 1's address>
//   state 3 WaitMailFrom  2xx    -> RCPT TO:<the To text>
//   state 4 WaitRcptTo    2xx    -> DATA
//   state 5 WaitData      "354"  -> the mail text (MailText.h), ending CR LF "." CR LF
//   state 6 WaitMessage   2xx    -> QUIT, and the window closes
//
// An account that chose a security or SMTP AUTH on its "暗号" page talks extended SMTP instead:
//
//   state 1  WaitGreeting   "220"  -> EHLO <this machine's host name>
//   state 7  WaitEhlo       "250"  -> STARTTLS when chosen and the connection is still plain (the
//                                     EHLO reply must offer it, else nothing more is sent but QUIT);
//                                     else AUTH when chosen; else MAIL FROM
//   state 8  WaitStartTls   "220"  -> nothing; the step says startTls and the glue handshakes
//   state 9  WaitHandshake         -> tlsEstablished(): EHLO again (state 7), now over TLS
//   state 10 WaitAuth              -> "AUTH PLAIN <initial response>" wants 235;
//                                     "AUTH LOGIN" wants 334 and gets the user
//   state 11 WaitAuthUser   "334"  -> the password (AUTH LOGIN)
//   state 12 WaitAuthPassword "235" -> MAIL FROM, and on as above (states 3 to 6)
//
// AUTH takes PLAIN when the EHLO reply offers it, else LOGIN, with the account's SMTP user and
// password (empty: the POP3 ones). A password is sent only over TLS (STARTTLS done, or implicit
// TLS, which the glue sets up before the first byte and the conversation knows from the account),
// unless the account allows clear-text AUTH: start() refuses a plain connection with AUTH, and the
// AUTH step checks again. With no security and no AUTH the conversation is the plain one above,
// byte for byte.
//
// Replies are framed into lines ("250-..." continuation lines, then "250 ..."); a reply is whole
// only with its last line, however the reads split it, and its code is the first three characters
// of that last line. Every whole reply moves the conversation one step, so several replies in one
// read are handled in order. A reply other than the expected one shows the state's error text
// followed by the server's own last line, sends QUIT and releases the connection; the window and
// everything typed in it stay.
//
// The engine takes no clock: the glue calls timedOut() when the server has said nothing for
// kReplyTimeoutSeconds while running() holds, and connectionClosed() / connectFailed() when the
// socket tells it so. After any ending the conversation is idle again and a new send starts over
// at state 1 on a new connection.

#include "mail/engine/MailAccount.h"
#include "mail/engine/MailAddress.h"
#include "mail/engine/MailText.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvalink::mail {

// The texts a failed conversation shows (message box, OK button). Each ends with CR LF; a step may
// add the server's reply line or the connection's reason after it.
inline constexpr std::string_view kErrorNotSmtpServer = "ERROR: Not a valid SMTP server response\r\n";
inline constexpr std::string_view kErrorSenderRejected = "ERROR: Sender rejected\r\n";
inline constexpr std::string_view kErrorRecipientRejected = "ERROR: Recipient rejected\r\n";
inline constexpr std::string_view kErrorDataRejected = "ERROR: DATA command rejected\r\n";
inline constexpr std::string_view kErrorBodyRejected = "ERROR: Message body rejected\r\n";
inline constexpr std::string_view kErrorNoAccount = "ERROR: No mail account is configured\r\n";
inline constexpr std::string_view kErrorLineBreakInAddress = "ERROR: An address holds a line break\r\n";
inline constexpr std::string_view kErrorConnectFailed = "ERROR: Could not connect to the SMTP server\r\n";
inline constexpr std::string_view kErrorTimeout = "ERROR: The SMTP server did not answer for 60 seconds\r\n";
inline constexpr std::string_view kErrorConnectionLost = "ERROR: The connection to the SMTP server was lost\r\n";

// Texts of the glue's own failures before a connection exists (no CR LF).
inline constexpr std::string_view kUnknownServiceName = "Unknown service name";
inline constexpr std::string_view kSocketCreationFailed = "Socket creation failed";

// The service looked up before connecting (its port is not used).
inline constexpr std::string_view kServiceName = "smtp";
inline constexpr std::string_view kServiceProtocol = "tcp";

inline constexpr int kReplyTimeoutSeconds = 60;
// How much one read asks for.
inline constexpr std::size_t kReceiveBufferSize = 65536;

enum class SmtpState {
    None = 0,
    WaitGreeting = 1,
    WaitHelo = 2,
    WaitMailFrom = 3,
    WaitRcptTo = 4,
    WaitData = 5,
    WaitMessage = 6,
    WaitEhlo = 7,
    WaitStartTls = 8,
    WaitHandshake = 9,
    WaitAuth = 10,
    WaitAuthUser = 11,
    WaitAuthPassword = 12,
};

// What the window hands over when the user sends. Everything is code page 932 text as typed.
struct SmtpRequest {
    // Account 1 (the conversation always sends through it, whatever the From box shows); empty
    // when no account is configured, which refuses the send with kErrorNoAccount.
    std::optional<MailAccount> account;
    std::string to;      // the To box text, one address
    std::string subject; // the Subject box text
    std::string body;    // the whole editor text, lines separated by CR LF
    // This machine's host name (gethostname): the HELO argument ("localhost" when it is not a
    // plain domain name, see plainHostName). newMessageId takes the same name.
    std::string localHostName;
    // The moment of sending, for "Date:" (currentMailTime() in the program, fixed in tests).
    MailTime time;
    // "<...@...>" for "Message-ID:" (newMessageId() in the program, fixed in tests).
    std::string messageId;
};

// The answer to start(): connect to host:port, or not (message says why; empty when a
// conversation is already running and the send is simply ignored).
struct SmtpStart {
    bool connect = false;
    std::string host;
    std::uint16_t port = kDefaultSmtpPort;
    std::string message;
    // Implicit: the glue makes the TLS handshake before the conversation sees a byte.
    TransportSecurity security = TransportSecurity::None;

    bool operator==(const SmtpStart&) const = default;
};

// What the glue does after each call, in this order: write `send` on the connection (all of it,
// queueing what the socket does not take at once), then close and destroy the socket when
// `release` holds, then show `message` when it is not empty, then close the compose window when
// `finished` holds (the server accepted the mail; nothing is shown). When `startTls` holds, the
// glue starts the TLS handshake right after writing `send`, feeds nothing that arrived before it,
// and calls tlsEstablished() when it succeeds or tlsFailed() when it does not.
struct SmtpStep {
    std::string send;
    bool release = false;
    std::string message;
    bool finished = false;
    bool startTls = false;

    bool operator==(const SmtpStep&) const = default;
};

class SmtpConversation {
public:
    // Longest reply line kept; longer lines are cut there and the rest counts as the next line.
    static constexpr std::size_t kMaxReplyLine = 2048;

    // Begins a conversation: checks the request, builds the mail text, and says where to connect.
    // Ignored (connect false, no message) while a conversation runs. Refused with a message, and
    // nothing to connect to, when the account's address or the To text is not one mailbox
    // (isMailbox) or "SMTP PortNo" names no port (accountPort).
    SmtpStart start(const SmtpRequest& request);

    // Why start() would refuse this request (its message), or an empty text when it would not: the
    // window asks before it hands the mail to its thread, so a refusal never reaches a socket.
    static std::string refusal(const SmtpRequest& request);

    // Bytes read from the connection, any amount, split anywhere.
    SmtpStep feed(std::string_view bytes);

    // The connection could not be made (refused, unreachable, unknown host). `reason` (may be
    // empty) is shown on the line after the error text.
    SmtpStep connectFailed(std::string_view reason = {});
    // The server said nothing for kReplyTimeoutSeconds while running().
    SmtpStep timedOut();
    // The server closed the connection, or a read or write failed, before the mail was accepted.
    SmtpStep connectionClosed();
    // The window closes while a conversation runs: QUIT and release, no message.
    SmtpStep abort();
    // The STARTTLS handshake succeeded: EHLO again, over TLS. Ignored in any other state.
    SmtpStep tlsEstablished();
    // A handshake (STARTTLS or implicit) failed, or TLS broke: release, with the Japanese text and
    // `reason` (may be empty) on the next line. Nothing more is written in clear.
    SmtpStep tlsFailed(std::string_view reason = {});

    SmtpState state() const { return m_state; }
    bool running() const { return m_state != SmtpState::None; }
    // The whole DATA payload of the running conversation (header block, body, CR LF "." CR LF).
    const std::string& mailText() const { return m_mailText; }

private:
    SmtpStep handleReply();
    SmtpStep handleEhlo();
    SmtpStep afterAuth();
    void noteCapability(std::string_view line);
    SmtpStep fail(std::string_view errorText);
    // An ending in the TLS and AUTH steps: the Japanese text, then (showReply) "サーバーの応答: " and
    // the server's line.
    SmtpStep failWithReply(std::string_view text, bool showReply = true);
    void end();

    SmtpState m_state = SmtpState::None;
    std::string m_helloName;
    std::string m_sender;
    std::string m_recipient;
    std::string m_mailText;

    // The extended conversation (see above); all false/empty for the plain one.
    bool m_extended = false;
    bool m_startTls = false;
    bool m_auth = false;
    bool m_clearAuthAllowed = false;
    bool m_secure = false; // TLS protects the connection (implicit, or STARTTLS done)
    std::string m_authUser;
    std::string m_authPassword;
    bool m_usePlain = false;
    // What the last EHLO reply offered.
    bool m_offersStartTls = false;
    bool m_offersPlain = false;
    bool m_offersLogin = false;
    bool m_firstLineOfReply = true;

    // The reply being framed: the current unfinished line, and the last finished line of it.
    std::string m_line;
    std::string m_lastLine;
};

} // namespace orvalink::mail
