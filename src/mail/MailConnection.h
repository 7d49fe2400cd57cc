#pragma once

// The one connection of a mail conversation (POP3 download or SMTP send), shared by the receive
// worker and the compose worker: it makes the connection, moves bytes between the socket and the
// engine through TLS when the conversation is protected, and runs the silence timer. The engines
// stay socket-free; their owner only hands bytes and steps between engine and connection.
//
// The contract between engine, owner and connection:
//
//   open(host, port, {implicitTls, pin})   Connecting, or why not (CreateFailed/ConnectFailed with
//                                          lastError()). With implicitTls the handshake runs right
//                                          after the connect, before the engine sees a byte; the
//                                          engine was told at construction that it is secure.
//   onData(plain)                          every chunk the server sent (decrypted): engine.feed()
//   send(step.send)                        the engine's bytes (encrypted when TLS is up); false when
//                                          the connection broke under them
//   step.startTls                          after send(step.send) the owner calls startTls(); the
//                                          handshake runs on the same socket; when it succeeded
//                                          onTlsEstablished() fires and the owner hands the step of
//                                          engine.tlsEstablished() back as usual (POP3: USER, SMTP:
//                                          EHLO again)
//   onFailed(text, certificate)            a handshake that failed or a certificate that cannot be
//                                          trusted (then `certificate` says why, for the question
//                                          to the user): the connection is closed already and
//                                          nothing more was sent; the engine must not be fed again
//   onConnectFailed(wsaError)              the connect did not succeed
//   onClosed()                             the server closed (or the connection broke)
//   onSilence()                            nothing arrived for the silence limit while watching
//   watch(waiting)                         after each step: run the timer while the engine waits
//                                          for the server (every chunk that arrives restarts it)
//   close()                                safe inside any of the callbacks
//
// Every callback runs on the owner's thread from inside a socket notification or the timer; none
// runs after close() or after the connection is destroyed.

#include "mail/tls/TlsSession.h"

#include <QObject>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class QTimer;

namespace orvalink::mail {

class MailSocket;

class MailConnection : public QObject {
    Q_OBJECT
public:
    struct Callbacks {
        std::function<void(std::string_view plain)> onData;
        std::function<void()> onClosed;
        std::function<void(int wsaError)> onConnectFailed;
        std::function<void(std::string text, std::optional<CertificateInfo> certificate)> onFailed;
        std::function<void()> onSilence;
        std::function<void()> onTlsEstablished;
    };
    struct Options {
        bool implicitTls = false;
        // A certificate the user chose to trust for this account (SHA-256 hex), or empty.
        std::string pinnedFingerprint;
    };
    enum class OpenResult { Connecting, CreateFailed, ConnectFailed };

    explicit MailConnection(Callbacks callbacks, QObject* parent = nullptr);
    ~MailConnection() override;

    OpenResult open(const std::string& host, std::uint16_t port, Options options);
    // The error of a failed open.
    int lastError() const { return m_lastError; }
    bool isOpen() const { return m_socket != nullptr; }
    // TLS is up (implicit or after startTls), or being set up.
    bool secure() const { return m_tls != nullptr; }

    bool send(std::string_view bytes);
    void startTls();
    void close();

    void setSilence(std::chrono::milliseconds silence) { m_silence = silence; }
    void watch(bool waiting);

    // The socket's notifications (MailSocket).
    void socketConnected(int err);
    void socketReceived(std::string_view bytes);
    void socketWritable();
    void socketClosed();

private:
    bool flush();
    // `goodbye`: the socket can still take bytes, and a TLS session says close_notify first.
    void closeSocket(bool goodbye);
    void beginTls();
    void tlsFailed();
    void silenceElapsed();
    // Something happened while watching: the silence counts from now.
    void heard();

    Callbacks m_callbacks;
    Options m_options;
    std::string m_host;
    std::unique_ptr<MailSocket> m_socket;
    std::unique_ptr<TlsSession> m_tls;
    std::string m_outgoing; // bytes for the socket (ciphertext once TLS runs)
    int m_lastError = 0;
    bool m_connected = false;
    bool m_watching = false;
    std::chrono::milliseconds m_silence{std::chrono::seconds(60)};
    // The timer is started once and, when it fires, started again for what is left of the silence
    // since the last chunk: restarting it for every chunk would cost more than reading it.
    std::chrono::steady_clock::time_point m_lastHeard;
    QTimer* m_timer;
};

} // namespace orvalink::mail
