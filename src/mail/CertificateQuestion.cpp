#include "mail/CertificateQuestion.h"

#include "mail/MailAccountStore.h"
#include "mail/tls/TlsTexts.h"
#include "platform/MessageBox.h"

namespace orvalink::mail {

std::string certificateQuestionText(const CertificateInfo& certificate)
{
    std::string text(tlstexts::kQuestionHead);
    text += "\n";
    if (certificate.pinChanged) {
        text += tlstexts::kPinChanged;
        text += "\x81\x42\n"; // 。
    }
    text += std::string(tlstexts::kReason) + certificate.reason + " (" + certificate.libraryReason + ")\n";
    text += std::string(tlstexts::kServer) + certificate.serverName + "\n";
    text += std::string(tlstexts::kSubject) + certificate.subject + "\n";
    text += std::string(tlstexts::kIssuer) + certificate.issuer + "\n";
    text += std::string(tlstexts::kValidity) + certificate.notBefore + std::string(tlstexts::kValidityTo) +
            certificate.notAfter + "\n";
    text += "SHA-256: " + certificate.displayFingerprint() + "\n\n";
    text += tlstexts::kQuestionTail;
    return text;
}

bool askToTrustCertificate(const CertificateInfo& certificate, CertificateUse use)
{
    if (platform::messageBox(certificateQuestionText(certificate), "Orvalink",
                             platform::MB_YESNO | platform::MB_ICONQUESTION | platform::MB_DEFBUTTON2) !=
        platform::IDYES)
        return false;
    MailAccountStore store;
    MailAccount account = store.read(1);
    (use == CertificateUse::Receiving ? account.popCertPin : account.smtpCertPin) = certificate.fingerprint;
    store.write(1, account);
    return true;
}

} // namespace orvalink::mail
