#pragma once

// The question a refused server certificate puts to the user, for receiving and for sending alike:
// why it was refused (in the program's words and the library's), the server, the certificate's
// subject, issuer, validity and SHA-256 fingerprint, and whether to trust exactly this certificate
// for the account. Texts are code page 932.

#include "mail/tls/TlsSession.h"

#include <string>

namespace orvalink::mail {

std::string certificateQuestionText(const CertificateInfo& certificate);

// Which conversation of the account a trusted certificate is kept for.
enum class CertificateUse { Receiving, Sending };

// Asks with a Yes/No box (question icon, No the default); true for Yes. Call on the GUI thread's
// side of a conversation: the box blocks its caller until answered. Yes keeps the certificate's
// fingerprint with account 1, the account both conversations go through ("POP CertPin"1 or
// "SMTP CertPin"1), so that exactly this certificate is let through from then on.
bool askToTrustCertificate(const CertificateInfo& certificate, CertificateUse use);

} // namespace orvalink::mail
