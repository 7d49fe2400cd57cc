#include "mail/MailConnection.h"

#include "mail/MailSocket_p.h"

#include <QTimer>

namespace orvalink::mail {

MailConnection::MailConnection(Callbacks callbacks, QObject* parent)
    : QObject(parent), m_callbacks(std::move(callbacks)), m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &MailConnection::silenceElapsed);
}

MailConnection::~MailConnection()
{
    if (m_socket)
        m_socket->close();
}

MailConnection::OpenResult MailConnection::open(const std::string& host, std::uint16_t port, Options options)
{
    close();
    m_options = std::move(options);
    m_host = host;
    m_lastError = 0;
    m_connected = false;
    m_socket = std::make_unique<MailSocket>(*this);
    if (!m_socket->create(platform::AsyncSocket::Type::Stream, 0, nullptr,
                          platform::FD_READ | platform::FD_WRITE | platform::FD_OOB | platform::FD_ACCEPT |
                              platform::FD_CONNECT | platform::FD_CLOSE)) {
        m_lastError = platform::AsyncSocket::lastError();
        m_socket.reset();
        return OpenResult::CreateFailed;
    }
    if (!m_socket->connect(host, port)) {
        m_lastError = platform::AsyncSocket::lastError();
        close();
        return OpenResult::ConnectFailed;
    }
    if (m_options.implicitTls)
        beginTls();
    watch(true);
    return OpenResult::Connecting;
}

bool MailConnection::send(std::string_view bytes)
{
    if (!m_socket)
        return false;
    if (m_tls) {
        m_tls->writePlain(bytes);
        m_outgoing += m_tls->takeCiphertext();
    } else {
        m_outgoing.append(bytes);
    }
    return flush();
}

void MailConnection::startTls()
{
    if (m_socket && !m_tls) {
        beginTls();
        watch(true);
    }
}

void MailConnection::beginTls()
{
    m_tls = std::make_unique<TlsSession>(m_host, m_options.pinnedFingerprint);
    // The client's first flight waits in m_outgoing until the connect is done, like any bytes.
    m_outgoing += m_tls->takeCiphertext();
    if (m_tls->state() == TlsSession::State::Failed)
        return tlsFailed();
    flush();
}

void MailConnection::close()
{
    closeSocket(true);
}

void MailConnection::closeSocket(bool goodbye)
{
    m_timer->stop();
    m_watching = false;
    if (goodbye && m_tls && m_socket && m_connected) {
        // One try without waiting: what the socket cannot take at once is not worth holding the
        // end of a finished conversation for.
        m_tls->shutdown();
        m_outgoing += m_tls->takeCiphertext();
        flush();
    }
    m_outgoing.clear();
    m_tls.reset();
    if (m_socket) {
        // Possibly inside one of the socket's own notifications: it goes once that has returned.
        m_socket->close();
        m_socket.release()->deleteLater();
    }
}

void MailConnection::watch(bool waiting)
{
    m_watching = waiting && m_socket;
    if (m_watching)
        heard();
    else
        m_timer->stop();
}

void MailConnection::heard()
{
    m_lastHeard = std::chrono::steady_clock::now();
    if (!m_timer->isActive())
        m_timer->start(m_silence);
}

void MailConnection::socketConnected(int err)
{
    if (!m_socket)
        return;
    if (err != 0) {
        close();
        if (m_callbacks.onConnectFailed)
            m_callbacks.onConnectFailed(err);
        return;
    }
    m_connected = true;
    if (m_watching)
        heard();
    if (!flush())
        socketClosed();
}

void MailConnection::socketReceived(std::string_view bytes)
{
    if (!m_socket)
        return;
    m_connected = true;
    if (m_watching)
        heard();
    if (!m_tls) {
        m_callbacks.onData(bytes);
        return;
    }
    TlsSession* tls = m_tls.get();
    const bool handshaking = tls->state() == TlsSession::State::Handshaking;
    tls->feedCiphertext(bytes);
    m_outgoing += tls->takeCiphertext();
    if (tls->state() == TlsSession::State::Failed)
        return tlsFailed();
    if (!flush())
        return; // the close notification follows
    if (handshaking && tls->established() && !m_options.implicitTls) {
        if (m_callbacks.onTlsEstablished)
            m_callbacks.onTlsEstablished();
        if (m_tls.get() != tls)
            return; // the owner closed the connection
    }
    const std::string plain = tls->takePlain();
    if (!plain.empty()) {
        m_callbacks.onData(plain);
        if (m_tls.get() != tls)
            return;
    }
    if (tls->state() == TlsSession::State::Closed) {
        close();
        m_callbacks.onClosed();
    }
}

void MailConnection::socketWritable()
{
    if (m_socket && !flush())
        socketClosed();
}

void MailConnection::socketClosed()
{
    if (!m_socket)
        return;
    if (m_tls && m_tls->state() == TlsSession::State::Handshaking) {
        m_tls->transportClosed();
        return tlsFailed();
    }
    closeSocket(false);
    m_callbacks.onClosed();
}

bool MailConnection::flush()
{
    if (!m_connected)
        return true; // sent once the connect is done
    while (!m_outgoing.empty() && m_socket) {
        const int chunk = static_cast<int>(std::min<std::size_t>(m_outgoing.size(), 1 << 20));
        const int n = m_socket->send(m_outgoing.data(), chunk);
        if (n > 0) {
            m_outgoing.erase(0, static_cast<std::size_t>(n));
            continue;
        }
        // A full send buffer: the rest goes when the socket says
        // it can take more.
        return platform::AsyncSocket::lastError() == platform::WSAEWOULDBLOCK;
    }
    return true;
}

void MailConnection::tlsFailed()
{
    std::string text = m_tls->errorText();
    std::optional<CertificateInfo> certificate = m_tls->certificateProblem();
    close();
    if (m_callbacks.onFailed)
        m_callbacks.onFailed(std::move(text), std::move(certificate));
}

void MailConnection::silenceElapsed()
{
    const auto quiet = std::chrono::steady_clock::now() - m_lastHeard;
    if (m_watching && quiet < m_silence) {
        m_timer->start(std::chrono::ceil<std::chrono::milliseconds>(m_silence - quiet));
        return;
    }
    if (m_socket && m_callbacks.onSilence)
        m_callbacks.onSilence();
}

} // namespace orvalink::mail
