#include "mail/ReceiveWorker.h"

#include "mail/ConnectErrorText.h"
#include "mail/MailConnection.h"
#include "mail/engine/ReceivedMailFiler.h"
#include "mail/engine/UidlRecord.h"
#include "platform/AsyncSocket.h"

#include <QTimer>
#include <utility>

namespace orvalink::mail {

ReceiveWorker::ReceiveWorker()
{
    MailConnection::Callbacks callbacks;
    callbacks.onData = [this](std::string_view bytes) { received(bytes); };
    callbacks.onClosed = [this] { closed(); };
    callbacks.onConnectFailed = [this](int wsaError) { connectFailed(wsaError); };
    callbacks.onFailed = [this](std::string text, std::optional<CertificateInfo> certificate) {
        tlsFailed(std::move(text), std::move(certificate));
    };
    callbacks.onSilence = [this] { silenceElapsed(); };
    callbacks.onTlsEstablished = [this] {
        if (m_engine)
            apply(m_engine->tlsEstablished());
    };
    m_connection = std::make_unique<MailConnection>(std::move(callbacks), this);
    m_reportTimer = new QTimer(this);
    m_reportTimer->setSingleShot(true);
    connect(m_reportTimer, &QTimer::timeout, this, &ReceiveWorker::passReports);
}

ReceiveWorker::~ReceiveWorker()
{
    // The window went away during a download: say goodbye to the server if the connection can
    // take it at once; the message being received is abandoned, nothing of it is filed.
    if (m_connection->isOpen() && m_engine)
        m_connection->send(m_engine->abort().send);
    m_connection->close();
}

void ReceiveWorker::setReportHandler(ReportHandler handler)
{
    m_report = std::move(handler);
}

void ReceiveWorker::setRequest(Request request)
{
    std::lock_guard lock(m_requestMutex);
    m_request = std::move(request);
}

std::intptr_t ReceiveWorker::windowProc(platform::WindowMessage& msg)
{
    switch (msg.id) {
    case WM_RECV_START:
        return start();
    case WM_RECV_ABORT:
        abort();
        return 0;
    default:
        return 0;
    }
}

ReceiveWorker::StartResult ReceiveWorker::start()
{
    // One download at a time: a second receive command while one runs only shows the window.
    if (m_connection->isOpen())
        return AlreadyRunning;
    ++m_download;
    Request request;
    {
        std::lock_guard lock(m_requestMutex);
        request = m_request;
    }
    m_record = std::make_unique<orvalink::mail::UidlRecord>(request.mailDir, request.server, request.login.user);
    m_filer = std::make_unique<orvalink::mail::ReceivedMailFiler>(request.mailDir, m_record.get());
    m_engine = std::make_unique<Pop3Engine>(request.login, *m_filer, m_record->load(), request.security);
    // The command after a message goes out before the message is filed, so that the server answers
    // it meanwhile; a send that fails there is heard as a broken connection by apply().
    m_engine->setSendNow([this](const std::string& bytes) {
        if (!m_connection->send(bytes))
            m_sendNowFailed = true;
    });
    m_sendNowFailed = false;
    m_connection->setSilence(request.silence);
    MailConnection::Options options;
    options.implicitTls = request.security == TransportSecurity::Implicit;
    options.pinnedFingerprint = request.pinnedFingerprint;
    const MailConnection::OpenResult opened =
        m_connection->open(request.server, static_cast<std::uint16_t>(request.port), std::move(options));
    if (opened == MailConnection::OpenResult::CreateFailed) {
        dropDownload();
        return SocketFailed;
    }
    if (opened == MailConnection::OpenResult::ConnectFailed) {
        const int error = m_connection->lastError();
        // An unusable host name has a text of its own; any other immediate failure is named too,
        // so the window never just sits there.
        endConnection(
            {{Pop3Event::Kind::Error, error == platform::WSAEINVAL ? orvalink::mail::invalidHostText()
                                                                   : orvalink::mail::connectErrorText(error)}});
        return Started;
    }
    report({}, true);
    return Started;
}

void ReceiveWorker::abort()
{
    if (!m_connection->isOpen()) {
        report({}, false, true);
        return;
    }
    if (m_engine->outcome() != Pop3Outcome::Running) {
        // The download already failed and only waits for the server to close: abort ends it now.
        endConnection({});
        report({}, false, true);
        return;
    }
    apply(m_engine->abort());
}

void ReceiveWorker::connectFailed(int wsaError)
{
    // Nothing can arrive on a connection that was never made: the download ends here with the
    // reason in the error list.
    endConnection({{Pop3Event::Kind::Error, orvalink::mail::connectErrorText(wsaError)}});
}

void ReceiveWorker::received(std::string_view bytes)
{
    if (!m_engine)
        return;
    apply(m_engine->feed(bytes));
}

void ReceiveWorker::closed()
{
    if (!m_engine)
        return;
    Pop3Step step = m_engine->connectionClosed();
    endConnection(std::move(step.events));
}

void ReceiveWorker::tlsFailed(std::string text, std::optional<CertificateInfo> certificate)
{
    // Nothing more went out: no USER, no PASS. The engine is still waiting; it is dropped unheard.
    m_connection->close();
    dropDownload();
    report({{Pop3Event::Kind::Error, std::move(text)}}, false, false, std::move(certificate));
}

void ReceiveWorker::silenceElapsed()
{
    if (m_engine && m_connection->isOpen())
        apply(m_engine->timedOut());
}

void ReceiveWorker::apply(Pop3Step step)
{
    const bool sentNow = !std::exchange(m_sendNowFailed, false);
    const bool sent = sentNow && (step.send.empty() || m_connection->send(step.send));
    if (!sent && !step.disconnect) {
        // The connection broke under the command: the engine hears of it as a closed connection.
        Pop3Step closedStep = m_engine->connectionClosed();
        step.events.insert(step.events.end(), closedStep.events.begin(), closedStep.events.end());
        endConnection(std::move(step.events));
        return;
    }
    if (step.disconnect || !m_engine->waitingForServer()) {
        endConnection(std::move(step.events));
        return;
    }
    if (step.startTls)
        m_connection->startTls();
    m_connection->watch(m_engine->waitingForServer());
    report(std::move(step.events), true);
}

void ReceiveWorker::endConnection(std::vector<Pop3Event> events)
{
    m_connection->close();
    const bool closeWindow =
        m_engine && (m_engine->outcome() == Pop3Outcome::Done || m_engine->outcome() == Pop3Outcome::Aborted);
    dropDownload();
    report(std::move(events), false, closeWindow);
}

void ReceiveWorker::dropDownload()
{
    m_engine.reset();
    m_filer.reset();
    m_record.reset();
}

void ReceiveWorker::report(std::vector<Pop3Event> events, bool running, bool closeWindow,
                           std::optional<CertificateInfo> certificate)
{
    if (!m_report)
        return;
    m_waitingReports.push_back(Report{m_download, std::move(events), running, closeWindow, std::move(certificate)});
    if (!running) {
        passReports();
        return;
    }
    if (m_reportTimer->isActive())
        return;
    const auto since = std::chrono::steady_clock::now() - m_lastReports;
    if (since >= kReportInterval)
        passReports();
    else
        m_reportTimer->start(std::chrono::duration_cast<std::chrono::milliseconds>(kReportInterval - since));
}

void ReceiveWorker::passReports()
{
    m_reportTimer->stop();
    m_lastReports = std::chrono::steady_clock::now();
    std::vector<Report> reports = std::move(m_waitingReports);
    m_waitingReports.clear();
    for (Report& r : reports)
        m_report(std::move(r));
}

} // namespace orvalink::mail
