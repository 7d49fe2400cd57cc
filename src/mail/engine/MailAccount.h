#pragma once

// One mail account as the settings store keeps it in section "Server Entry". Every field is code
// page 932 text exactly as stored; the ports are decimal texts and may be empty.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvalink::mail {

struct MailAccount {
    std::string serverName;   // "Server Name"n: the name the account is found by
    std::string popServer;    // "POP Server"n
    std::string popPort;      // "POP PortNo"n
    std::string popAccount;   // "POP Accunt"n: sent with USER
    std::string popPassword;  // "POP Password"n: kept as typed, sent with PASS
    std::string smtpServer;   // "SMTP Server"n
    std::string smtpPort;     // "SMTP PortNo"n
    std::string emailAddress; // "EMAIL ADRESS"n: the envelope sender

    // The "暗号" page. An account that never had these keys talks exactly the plain conversations
    // (USER/PASS; HELO, no EHLO, no AUTH); the keys are stored only when they hold something.
    std::string popSecurity;  // "POP Security"n: see TransportSecurity ("" = none)
    std::string smtpSecurity; // "SMTP Security"n: see TransportSecurity ("" = none)
    std::string smtpAuth;     // "SMTP Auth"n: "1" = AUTH PLAIN or LOGIN, as the server's EHLO offers
    std::string smtpUser;     // "SMTP User"n: empty = the POP account
    std::string smtpPassword; // "SMTP Password"n: empty = the POP password
    std::string plainAuth;    // "SMTP PlainAuth"n: "1" = AUTH allowed on a connection without TLS
    std::string popCertPin;   // "POP CertPin"n: SHA-256 fingerprint (64 hex digits) the user chose to trust
    std::string smtpCertPin;  // "SMTP CertPin"n: likewise for the SMTP server

    bool operator==(const MailAccount&) const = default;
};

// How a conversation is protected: stored as "0" (or nothing), "1" and "2".
enum class TransportSecurity {
    None,     // plain, as written
    StartTls, // POP3 STLS after the greeting (CAPA first), SMTP STARTTLS after EHLO
    Implicit, // TLS from the first byte (POP3 995, SMTP 465)
};

// "1" is StartTls, "2" Implicit; anything else (an absent key included) is None.
TransportSecurity transportSecurity(std::string_view stored);
std::string storedSecurity(TransportSecurity security);

inline constexpr std::uint16_t kDefaultPop3Port = 110;
inline constexpr std::uint16_t kDefaultSmtpPort = 25;
// The usual ports of the protected conversations (RFC 8314: TLS from the first byte on 995 and
// 465; RFC 6409: submission, where STARTTLS is spoken, on 587).
inline constexpr std::uint16_t kImplicitTlsPop3Port = 995;
inline constexpr std::uint16_t kImplicitTlsSmtpPort = 465;
inline constexpr std::uint16_t kSubmissionSmtpPort = 587;

// The port an account that names none (an empty port text) connects to under its security: the
// one the "暗号" page offers for it. POP3: 110, 110 with STLS, 995; SMTP: 25, 587, 465.
std::uint16_t defaultPop3Port(TransportSecurity security);
std::uint16_t defaultSmtpPort(TransportSecurity security);

// The port a stored port text names: an empty text (or blanks only) is the default port; decimal
// digits naming 1-65535, blanks around them allowed, are that port. Anything else ("99999", "-1",
// "0", "25a") names no port, and nothing may connect for it: a guessed port would carry the
// password to a server the user never named.
std::optional<std::uint16_t> accountPort(std::string_view portText, std::uint16_t defaultPort);

// Why nothing connected for a port text that names no port, naming the setting (code page 932):
// "メール設定の「POP3サーバー」のPort「99999」はポート番号（1-65535）ではないため、接続しませんでした。"
std::string badPopPortText(std::string_view portText);
std::string badSmtpPortText(std::string_view portText);

} // namespace orvalink::mail
