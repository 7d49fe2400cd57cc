#pragma once

// One mail account as the settings store keeps it in section "Server Entry". Every field is code
// page 932 text exactly as stored; the ports are decimal texts and may be empty.

#include <string>

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

    bool operator==(const MailAccount&) const = default;
};

} // namespace orvalink::mail
