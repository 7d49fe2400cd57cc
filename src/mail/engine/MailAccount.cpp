#include "mail/engine/MailAccount.h"

namespace orvalink::mail {

namespace {

// メール設定の「POP3サーバー」のPort「
constexpr std::string_view kPopPortPrefix =
    "\x83\x81\x81[\x83\x8b\x90\xdd\x92\xe8\x82\xcc\x81uPOP3\x83T\x81[\x83o\x81[\x81v\x82\xccPort\x81u";
// メール設定の「SMTPサーバー」のPort「
constexpr std::string_view kSmtpPortPrefix =
    "\x83\x81\x81[\x83\x8b\x90\xdd\x92\xe8\x82\xcc\x81uSMTP\x83T\x81[\x83o\x81[\x81v\x82\xccPort\x81u";
// 」はポート番号（1-65535）ではないため、接続しませんでした。
constexpr std::string_view kBadPortSuffix =
    "\x81v\x82\xcd\x83|\x81[\x83g\x94\xd4\x8d\x86\x81i1-65535\x81j\x82\xc5\x82\xcd\x82\xc8\x82\xa2\x82\xbd\x82\xdf\x81"
    "A\x90\xda\x91\xb1\x82\xb5\x82\xdc\x82\xb9\x82\xf1\x82\xc5\x82\xb5\x82\xbd\x81"
    "B";

std::string badPortText(std::string_view prefix, std::string_view portText)
{
    std::string text(prefix);
    // The stored text as it is, but a control byte in it cannot break the message's lines.
    for (const char c : portText)
        text += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c;
    text += kBadPortSuffix;
    return text;
}

} // namespace

std::optional<std::uint16_t> accountPort(std::string_view portText, std::uint16_t defaultPort)
{
    while (!portText.empty() && (portText.front() == ' ' || portText.front() == '\t'))
        portText.remove_prefix(1);
    while (!portText.empty() && (portText.back() == ' ' || portText.back() == '\t'))
        portText.remove_suffix(1);
    if (portText.empty())
        return defaultPort;
    if (portText.size() > 5)
        return std::nullopt;
    unsigned value = 0;
    for (const char c : portText) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value < 1 || value > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

std::string badPopPortText(std::string_view portText)
{
    return badPortText(kPopPortPrefix, portText);
}

std::string badSmtpPortText(std::string_view portText)
{
    return badPortText(kSmtpPortPrefix, portText);
}

TransportSecurity transportSecurity(std::string_view stored)
{
    if (stored == "1")
        return TransportSecurity::StartTls;
    if (stored == "2")
        return TransportSecurity::Implicit;
    return TransportSecurity::None;
}

std::uint16_t defaultPop3Port(TransportSecurity security)
{
    return security == TransportSecurity::Implicit ? kImplicitTlsPop3Port : kDefaultPop3Port;
}

std::uint16_t defaultSmtpPort(TransportSecurity security)
{
    switch (security) {
    case TransportSecurity::StartTls:
        return kSubmissionSmtpPort;
    case TransportSecurity::Implicit:
        return kImplicitTlsSmtpPort;
    case TransportSecurity::None:
        break;
    }
    return kDefaultSmtpPort;
}

std::string storedSecurity(TransportSecurity security)
{
    switch (security) {
    case TransportSecurity::StartTls:
        return "1";
    case TransportSecurity::Implicit:
        return "2";
    case TransportSecurity::None:
        break;
    }
    return "";
}

} // namespace orvalink::mail
