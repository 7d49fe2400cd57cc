#include "mail/CSendWorker.h"

#include "mail/CSendSocket_p.h"
#include "mail/ConnectErrorText.h"
#include "platform/AsyncSocket.h"

#include <QTimer>
#include <atomic>
#include <climits>
#include <mutex>
#include <string>
#include <unistd.h>

namespace orvalink::mail {

namespace {

std::atomic<int> g_silenceLimitMs{mail::kReplyTimeoutSeconds * 1000};
std::mutex g_serviceMutex;
std::string g_serviceName(mail::kServiceName);

std::string serviceName()
{
    std::lock_guard lock(g_serviceMutex);
    return g_serviceName;
}

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

CSendWorker::CSendWorker() : m_silenceTimer(new QTimer(this))
{
    m_silenceTimer->setSingleShot(true);
    connect(m_silenceTimer, &QTimer::timeout, this, &CSendWorker::silence);
}

CSendWorker::~CSendWorker()
{
    // The window went away with a conversation still running: say goodbye and let go.
    if (m_conversation.running()) {
        const mail::SmtpStep step = m_conversation.abort();
        if (m_socket && !step.send.empty())
            m_socket->send(step.send.data(), static_cast<int>(step.send.size()));
    }
    releaseSocket();
}

std::intptr_t CSendWorker::windowProc(platform::WindowMessage&)
{
    return 0;
}

void CSendWorker::setSilenceLimitMs(int ms)
{
    g_silenceLimitMs.store(ms);
}

int CSendWorker::silenceLimitMs()
{
    return g_silenceLimitMs.load();
}

void CSendWorker::setServiceName(std::string name)
{
    std::lock_guard lock(g_serviceMutex);
    g_serviceName = name.empty() ? std::string(mail::kServiceName) : std::move(name);
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
    if (platform::AsyncSocket::servicePort(serviceName().c_str(), std::string(mail::kServiceProtocol).c_str()) == 0) {
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
    m_socket = std::make_unique<CSendSocket>(this);
    m_outgoing.clear();
    if (!m_socket->create(platform::AsyncSocket::Type::Stream)) {
        m_socket.reset();
        m_conversation.abort();
        report(std::string(mail::kSocketCreationFailed));
        return;
    }
    if (!m_socket->connect(start.host, start.port)) {
        apply(m_conversation.connectFailed(connectFailureReason(platform::AsyncSocket::lastError())));
        return;
    }
    m_silenceTimer->start(g_silenceLimitMs.load());
}

void CSendWorker::apply(mail::SmtpStep step)
{
    if (!step.send.empty() && m_socket) {
        m_outgoing += step.send;
        writeQueued();
    }
    if (step.release)
        releaseSocket();
    if (m_conversation.running())
        m_silenceTimer->start(g_silenceLimitMs.load());
    else
        m_silenceTimer->stop();
    emit smtpStateChanged(static_cast<int>(m_conversation.state()));
    report(step.message);
    if (step.finished)
        emit mailSent();
}

void CSendWorker::report(const std::string& text)
{
    if (!text.empty())
        emit failed(QByteArray(text.data(), static_cast<qsizetype>(text.size())));
}

void CSendWorker::writeQueued()
{
    while (m_socket && !m_outgoing.empty()) {
        const int chunk = static_cast<int>(std::min<std::size_t>(m_outgoing.size(), 1 << 20));
        const int n = m_socket->send(m_outgoing.data(), chunk);
        if (n > 0) {
            m_outgoing.erase(0, static_cast<std::size_t>(n));
            continue;
        }
        if (n == platform::AsyncSocket::SocketError && platform::AsyncSocket::lastError() == platform::WSAEWOULDBLOCK)
            return; // the rest goes when the socket says it can take more
        m_outgoing.clear();
        apply(m_conversation.connectionClosed());
        return;
    }
}

void CSendWorker::releaseSocket()
{
    m_outgoing.clear();
    if (m_socket) {
        m_socket->close();
        m_socket.reset();
    }
}

void CSendWorker::silence()
{
    if (m_conversation.running())
        apply(m_conversation.timedOut());
}

void CSendWorker::socketReadable(int)
{
    if (!m_socket)
        return;
    std::string buffer(mail::kReceiveBufferSize, '\0');
    const int n = m_socket->receive(buffer.data(), static_cast<int>(buffer.size()));
    if (n > 0) {
        buffer.resize(static_cast<std::size_t>(n));
        apply(m_conversation.feed(buffer));
        return;
    }
    if (n == platform::AsyncSocket::SocketError && platform::AsyncSocket::lastError() == platform::WSAEWOULDBLOCK)
        return;
    if (m_conversation.running())
        apply(m_conversation.connectionClosed());
    else
        releaseSocket();
}

void CSendWorker::socketWritable(int)
{
    writeQueued();
}

void CSendWorker::socketConnected(int err)
{
    if (err != 0 && m_conversation.running())
        apply(m_conversation.connectFailed(connectFailureReason(err)));
}

void CSendWorker::socketClosed(int)
{
    if (m_conversation.running())
        apply(m_conversation.connectionClosed());
    else
        releaseSocket();
}

} // namespace orvalink::mail
