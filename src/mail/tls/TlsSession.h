#pragma once

// One TLS connection without any socket (OpenSSL over memory BIOs), shaped like the engines: the
// glue hands every chunk read from the socket to feedCiphertext() and sends what takeCiphertext()
// gives; the engine's commands go in through writePlain() and the server's replies come out of
// takePlain(). Nothing here blocks or waits.
//
// A client session speaks TLS 1.2 or newer, sends the server name (SNI, not for an address), and
// checks the server's certificate against the system's CA store (SSL_CERT_FILE and SSL_CERT_DIR
// are honoured) and against the server name. The handshake is finished before a single byte of
// plain text leaves: writePlain() before then only queues. When the certificate cannot be trusted
// and it is not exactly the one the account pinned (its SHA-256 fingerprint), the session fails
// with certificateProblem() saying why, and nothing queued is ever sent.
//
// The server role exists for the tests and the fuzz target (a certificate and key in PEM).
//
// States: Handshaking → Established → Closed (the peer's close_notify), or Failed from any of them
// with errorText() (code page 932) for the error list.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace orvalink::mail {

// What the user is shown about a certificate that could not be trusted. Texts are code page 932;
// the names are in RFC 2253 form with bytes beyond ASCII escaped, the times are UTC.
struct CertificateInfo {
    std::string reason;        // in the program's words, e.g. "証明書の有効期限が切れています"
    std::string libraryReason; // the library's own words, e.g. "certificate has expired"
    std::string serverName;    // the name the account connects to
    std::string subject;
    std::string issuer;
    std::string notBefore; // "2026-12-09 00:00:00 UTC"
    std::string notAfter;
    std::string fingerprint; // SHA-256, 64 upper-case hex digits, as the account stores a pin
    bool pinChanged = false; // the account trusted another certificate before

    // The fingerprint in pairs "AB:CD:..." as people compare them.
    std::string displayFingerprint() const;
};

class TlsSession {
public:
    enum class State { Handshaking, Established, Closed, Failed };

    // A client for `serverName`. `pinnedFingerprint` (hex, colons and case ignored; may be empty)
    // is a certificate the user chose to trust although it fails verification. The client's
    // first flight is ready in takeCiphertext() at once.
    explicit TlsSession(std::string serverName, std::string pinnedFingerprint = {});
    // A server with a certificate (chain) and its key, both PEM text. state() is Failed when they
    // cannot be used.
    static std::unique_ptr<TlsSession> server(std::string_view certificatePem, std::string_view keyPem);

    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    void feedCiphertext(std::string_view bytes);
    std::string takeCiphertext();
    void writePlain(std::string_view bytes);
    std::string takePlain();
    // The socket closed: a session still in its handshake fails with a text that says so.
    void transportClosed();
    // The conversation is over: the close_notify alert (RFC 8446 6.1) is ready in takeCiphertext(),
    // so that the peer can tell the end from a cut connection. Only a session that got through its
    // handshake says it (also in answer to the peer's own); nothing is written after it.
    void shutdown();

    State state() const { return m_state; }
    bool established() const { return m_state == State::Established; }
    const std::string& errorText() const { return m_errorText; }
    // Set when the session failed because of the server's certificate.
    const std::optional<CertificateInfo>& certificateProblem() const { return m_problem; }
    // The server's certificate's SHA-256 (64 upper-case hex digits), once it arrived.
    const std::string& peerFingerprint() const { return m_peerFingerprint; }

    // The normalised form of a stored pin: upper-case hex without separators.
    static std::string normalisedFingerprint(std::string_view text);

private:
    struct Ssl;
    TlsSession();
    void drive();
    void handshakeDone();
    void pump();
    void fail(std::string text);
    void failFromLibrary(std::string_view head);

    std::unique_ptr<Ssl> m_ssl;
    bool m_client = true;
    std::string m_serverName;
    std::string m_pin;
    State m_state = State::Handshaking;
    std::string m_pendingPlain; // written before the handshake finished
    std::string m_plainIn;
    std::string m_errorText;
    std::optional<CertificateInfo> m_problem;
    std::string m_peerFingerprint;
    bool m_shutDown = false;
};

} // namespace orvalink::mail
