#pragma once

// The main window of a compose thread in the message sense: it lives on that thread and runs the
// window's SMTP conversation there. The conversation itself is the socket-free engine; this glue
// only looks up the service and hands bytes between the engine and its MailConnection (which makes
// the connection, runs TLS when the account asks for it and watches for a silent server), and
// reports to the window:
//
//   smtpStateChanged(state)  after every step (0 when no conversation runs)
//   failed(text)             a text the user must see (the window shows it)
//   certificateRefused(text, certificate)
//                            instead of failed() when the server's certificate could not be
//                            trusted: the window asks whether to trust it for the account
//   mailSent()               the server took the mail: the window closes
//
// Everything here runs on the compose thread; the window reaches it with startSend() queued to
// that thread.

#include "mail/engine/SmtpConversation.h"
#include "mail/tls/TlsSession.h"
#include "platform/MessageTarget.h"

#include <QByteArray>
#include <memory>
#include <optional>
#include <string>

namespace orvalink::mail {

class MailConnection;
class SendSettings;

class CSendWorker : public platform::MessageTarget {
    Q_OBJECT
public:
    // `settings` outlives the worker (the mail side's owner holds it).
    explicit CSendWorker(const SendSettings& settings);
    ~CSendWorker() override;

    std::intptr_t windowProc(platform::WindowMessage& msg) override;

    // Begins sending through request.account. Ignored while a conversation runs. The host name,
    // time and Message-ID are filled in here when the request leaves them empty.
    void startSend(mail::SmtpRequest request);

    mail::SmtpState state() const { return m_conversation.state(); }
    bool hasSocket() const;

signals:
    void smtpStateChanged(int state);
    void failed(const QByteArray& cp932Text);
    void certificateRefused(const QByteArray& cp932Text, const orvalink::mail::CertificateInfo& certificate);
    void mailSent();

private:
    const SendSettings& m_settings;
    void apply(mail::SmtpStep step);
    void received(std::string_view bytes);
    void closed();
    void tlsFailed(std::string text, std::optional<CertificateInfo> certificate);
    void silence();
    void report(const std::string& text);

    mail::SmtpConversation m_conversation;
    std::unique_ptr<MailConnection> m_connection;
    // The certificate behind the failure report() is about to show, if that is why the send ended.
    std::optional<CertificateInfo> m_refusedCertificate;
};

} // namespace orvalink::mail
