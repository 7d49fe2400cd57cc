#include "mail/ReceiveWorker.h"

#include "mail/CRecvSocket_p.h"
#include "mail/ConnectErrorText.h"
#include "mail/engine/ReceivedMailFiler.h"
#include "mail/engine/UidlRecord.h"

#include <QTimer>

namespace orvalink::mail {

ReceiveWorker::ReceiveWorker() : m_silenceTimer(new QTimer(this))
{
    m_silenceTimer->setSingleShot(true);
    connect(m_silenceTimer, &QTimer::timeout, this, &ReceiveWorker::silenceElapsed);
}

ReceiveWorker::~ReceiveWorker()
{
    // The window went away during a download: say goodbye to the server if the connection can
    // take it at once; the message being received is abandoned, nothing of it is filed.
    if (m_socket && m_engine) {
        m_outgoing += m_engine->abort().send;
        flushOutgoing();
    }
    if (m_socket)
        m_socket->close();
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
    if (m_socket)
        return AlreadyRunning;
    ++m_download;
    Request request;
    {
        std::lock_guard lock(m_requestMutex);
        request = m_request;
    }
    m_silence = request.silence;
    m_outgoing.clear();
    m_record = std::make_unique<orvalink::mail::UidlRecord>(request.mailDir, request.server, request.login.user);
    m_filer = std::make_unique<orvalink::mail::ReceivedMailFiler>(request.mailDir, m_record.get());
    m_engine = std::make_unique<Pop3Engine>(request.login, *m_filer, m_record->load());
    m_socket = std::make_unique<CRecvSocket>(*this);
    if (!m_socket->create(platform::AsyncSocket::Type::Stream, 0, nullptr,
                          platform::FD_READ | platform::FD_WRITE | platform::FD_OOB | platform::FD_ACCEPT |
                              platform::FD_CONNECT | platform::FD_CLOSE)) {
        m_socket.reset();
        dropDownload();
        return SocketFailed;
    }
    if (!m_socket->connect(request.server, static_cast<std::uint16_t>(request.port))) {
        const int error = platform::AsyncSocket::lastError();
        // An unusable host name has a text of its own; any other immediate failure is named too,
        // so the window never just sits there.
        endConnection(
            {{Pop3Event::Kind::Error, error == platform::WSAEINVAL ? orvalink::mail::invalidHostText()
                                                                   : orvalink::mail::connectErrorText(error)}});
        return Started;
    }
    rearmSilenceTimer();
    report({}, true);
    return Started;
}

void ReceiveWorker::abort()
{
    if (!m_socket) {
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

void ReceiveWorker::connected(int wsaError)
{
    if (wsaError == 0) {
        rearmSilenceTimer();
        return;
    }
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

void ReceiveWorker::writable()
{
    if (m_socket && !flushOutgoing())
        closed();
}

void ReceiveWorker::closed()
{
    if (!m_engine)
        return;
    Pop3Step step = m_engine->connectionClosed();
    endConnection(std::move(step.events));
}

void ReceiveWorker::silenceElapsed()
{
    if (m_engine && m_socket)
        apply(m_engine->timedOut());
}

void ReceiveWorker::apply(Pop3Step step)
{
    m_outgoing += step.send;
    const bool sent = flushOutgoing();
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
    rearmSilenceTimer();
    report(std::move(step.events), true);
}

bool ReceiveWorker::flushOutgoing()
{
    while (!m_outgoing.empty() && m_socket) {
        const int n = m_socket->send(m_outgoing.data(), static_cast<int>(m_outgoing.size()));
        if (n > 0) {
            m_outgoing.erase(0, static_cast<std::size_t>(n));
            continue;
        }
        // A full send buffer: the rest goes when the socket says it can take more.
        return platform::AsyncSocket::lastError() == platform::WSAEWOULDBLOCK;
    }
    return true;
}

void ReceiveWorker::endConnection(std::vector<Pop3Event> events)
{
    m_silenceTimer->stop();
    if (m_socket) {
        // Possibly inside one of the socket's own notifications: it goes once that has returned.
        m_socket->close();
        m_socket.release()->deleteLater();
    }
    const bool closeWindow =
        m_engine && (m_engine->outcome() == Pop3Outcome::Done || m_engine->outcome() == Pop3Outcome::Aborted);
    dropDownload();
    report(std::move(events), false, closeWindow);
}

void ReceiveWorker::dropDownload()
{
    m_outgoing.clear();
    m_engine.reset();
    m_filer.reset();
    m_record.reset();
}

void ReceiveWorker::report(std::vector<Pop3Event> events, bool running, bool closeWindow)
{
    if (m_report)
        m_report(Report{m_download, std::move(events), running, closeWindow});
}

void ReceiveWorker::rearmSilenceTimer()
{
    if (m_engine && m_engine->waitingForServer())
        m_silenceTimer->start(m_silence);
    else
        m_silenceTimer->stop();
}

} // namespace orvalink::mail
