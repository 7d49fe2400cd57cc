#include "mail/CSendWorker.h"

#include "mail/ConnectErrorText.h"
#include "mail/MailConnection.h"
#include "mail/SendSettings.h"
#include "platform/AsyncSocket.h"

#include <climits>
#include <string>
#include <unistd.h>
#include <utility>

namespace orvalink::mail {

namespace {

std::string localHostName()
{
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

// Why a connection could not be made, for the line under the error text: the program's own texts
// for connect errors, as the receive window shows them.
std::string connectFailureReason(int wsaError)
{
    if (wsaError == platform::WSAEINVAL || wsaError == platform::WSAHOST_NOT_FOUND)
        return orvalink::mail::invalidHostText();
    return orvalink::mail::connectErrorText(wsaError);
}

} // namespace

CSendWorker::CSendWorker(const SendSettings& settings) : m_settings(settings)
{
    MailConnection::Callbacks callbacks;
    callbacks.onData = [this](std::string_view bytes) { received(bytes); };
    callbacks.onClosed = [this] { closed(); };
    callbacks.onConnectFailed = [this](int wsaError) {
        if (m_conversation.running())
            apply(m_conversation.connectFailed(connectFailureReason(wsaError)));
    };
    callbacks.onFailed = [this](std::string text, std::optional<CertificateInfo> certificate) {
        tlsFailed(std::move(text), std::move(certificate));
    };
    callbacks.onSilence = [this] { silence(); };
    // STARTTLS done: the conversation says EHLO again, now over TLS.
    callbacks.onTlsEstablished = [this] {
        if (m_conversation.running())
            apply(m_conversation.tlsEstablished());
    };
    m_connection = std::make_unique<MailConnection>(std::move(callbacks), this);
}

CSendWorker::~CSendWorker()
{
    // The window went away with a conversation still running: say goodbye and let go.
    if (m_conversation.running()) {
        const mail::SmtpStep step = m_conversation.abort();
        if (!step.send.empty())
            m_connection->send(step.send);
    }
    m_connection->close();
}

bool CSendWorker::hasSocket() const
{
    return m_connection->isOpen();
}

std::intptr_t CSendWorker::windowProc(platform::WindowMessage&)
{
    return 0;
}

void CSendWorker::startSend(mail::SmtpRequest request)
{
    if (m_conversation.running())
        return;
    // Every way out of here tells the window where the conversation stands.
    struct StateReport {
        CSendWorker* worker;
        ~StateReport() { emit worker->smtpStateChanged(static_cast<int>(worker->m_conversation.state())); }
    } stateReport{this};
    if (platform::AsyncSocket::servicePort(m_settings.serviceName().c_str(),
                                           std::string(mail::kServiceProtocol).c_str()) == 0) {
        report(std::string(mail::kUnknownServiceName));
        return;
    }
    if (request.localHostName.empty())
        request.localHostName = localHostName();
    if (request.time == mail::MailTime{})
        request.time = mail::currentMailTime();
    if (request.messageId.empty())
        request.messageId = mail::newMessageId(request.time, request.localHostName);

    const mail::SmtpStart start = m_conversation.start(request);
    if (!start.connect) {
        report(start.message);
        return;
    }
    m_connection->setSilence(std::chrono::milliseconds(m_settings.silenceLimitMs()));
    MailConnection::Options options;
    if (request.account) {
        options.implicitTls = transportSecurity(request.account->smtpSecurity) == TransportSecurity::Implicit;
        options.pinnedFingerprint = request.account->smtpCertPin;
    }
    const MailConnection::OpenResult opened = m_connection->open(start.host, start.port, std::move(options));
    if (opened == MailConnection::OpenResult::CreateFailed) {
        m_conversation.abort();
        report(std::string(mail::kSocketCreationFailed));
        return;
    }
    if (opened == MailConnection::OpenResult::ConnectFailed)
        apply(m_conversation.connectFailed(connectFailureReason(m_connection->lastError())));
}

void CSendWorker::apply(mail::SmtpStep step)
{
    if (!step.send.empty() && m_connection->isOpen() && !m_connection->send(step.send)) {
        // The connection broke under the command.
        apply(m_conversation.connectionClosed());
        return;
    }
    if (step.startTls && m_connection->isOpen())
        m_connection->startTls();
    if (step.release)
        m_connection->close();
    m_connection->watch(m_conversation.running());
    emit smtpStateChanged(static_cast<int>(m_conversation.state()));
    report(step.message);
    if (step.finished)
        emit mailSent();
}

void CSendWorker::report(const std::string& text)
{
    std::optional<CertificateInfo> certificate = std::exchange(m_refusedCertificate, std::nullopt);
    if (text.empty())
        return;
    const QByteArray bytes(text.data(), static_cast<qsizetype>(text.size()));
    if (certificate)
        emit certificateRefused(bytes, *certificate);
    else
        emit failed(bytes);
}

void CSendWorker::silence()
{
    if (m_conversation.running())
        apply(m_conversation.timedOut());
}

void CSendWorker::received(std::string_view bytes)
{
    apply(m_conversation.feed(bytes));
}

void CSendWorker::closed()
{
    if (m_conversation.running())
        apply(m_conversation.connectionClosed());
}

void CSendWorker::tlsFailed(std::string text, std::optional<CertificateInfo> certificate)
{
    // Nothing more went out (no EHLO inside TLS, no AUTH, no mail); the connection is gone.
    if (!m_conversation.running())
        return;
    m_refusedCertificate = std::move(certificate);
    apply(m_conversation.tlsFailed(text));
}

} // namespace orvalink::mail
