#include "mail/tls/TlsSession.h"

#include "mail/tls/TlsTexts.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <utility>

namespace orvalink::mail {

struct TlsSession::Ssl {
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;
    BIO* in = nullptr;  // ciphertext from the peer; owned by ssl
    BIO* out = nullptr; // ciphertext for the peer; owned by ssl

    ~Ssl()
    {
        SSL_free(ssl);
        SSL_CTX_free(ctx);
    }
};

namespace {

std::string hex(const unsigned char* bytes, unsigned length)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned i = 0; i < length; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

std::string fingerprintOf(X509* certificate)
{
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest.data(), &length) != 1)
        return {};
    return hex(digest.data(), length);
}

// ASCII only: bytes beyond it come out as escapes, so the text is valid code page 932.
std::string nameText(const X509_NAME* name)
{
    BIO* bio = BIO_new(BIO_s_mem());
    X509_NAME_print_ex(bio, name, 0, XN_FLAG_RFC2253);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    std::string text(data, static_cast<std::size_t>(length > 0 ? length : 0));
    BIO_free(bio);
    return text;
}

std::string timeText(const ASN1_TIME* time)
{
    std::tm tm{};
    if (!time || ASN1_TIME_to_tm(time, &tm) != 1)
        return "?";
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d UTC", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

std::string_view reasonWords(long verifyResult)
{
    switch (verifyResult) {
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return tlstexts::kHostMismatch;
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return tlstexts::kExpired;
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return tlstexts::kNotYetValid;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return tlstexts::kSelfSigned;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return tlstexts::kUnknownIssuer;
    default:
        return tlstexts::kUntrusted;
    }
}

bool isAddress(const std::string& name)
{
    ASN1_OCTET_STRING* address = a2i_IPADDRESS(name.c_str());
    const bool is = address != nullptr;
    ASN1_OCTET_STRING_free(address);
    return is;
}

} // namespace

std::string CertificateInfo::displayFingerprint() const
{
    std::string text;
    for (std::size_t i = 0; i < fingerprint.size(); i += 2) {
        if (i)
            text += ':';
        text += fingerprint.substr(i, 2);
    }
    return text;
}

std::string TlsSession::normalisedFingerprint(std::string_view text)
{
    std::string result;
    for (const char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            result += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return result;
}

TlsSession::TlsSession() : m_ssl(std::make_unique<Ssl>()) {}

TlsSession::TlsSession(std::string serverName, std::string pinnedFingerprint)
    : m_ssl(std::make_unique<Ssl>()), m_serverName(std::move(serverName)),
      m_pin(normalisedFingerprint(pinnedFingerprint))
{
    Ssl& s = *m_ssl;
    s.ctx = SSL_CTX_new(TLS_client_method());
    if (!s.ctx) {
        failFromLibrary(tlstexts::kHandshakeFailed);
        return;
    }
    SSL_CTX_set_min_proto_version(s.ctx, TLS1_2_VERSION);
    SSL_CTX_set_default_verify_paths(s.ctx);
    // The chain and the name are checked during the handshake, but the decision is taken here
    // once it is over (handshakeDone), so that a pinned certificate can be let through.
    SSL_CTX_set_verify(s.ctx, SSL_VERIFY_NONE, nullptr);
    s.ssl = SSL_new(s.ctx);
    if (!s.ssl) {
        failFromLibrary(tlstexts::kHandshakeFailed);
        return;
    }
    if (isAddress(m_serverName)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(s.ssl), m_serverName.c_str());
    } else {
        SSL_set_tlsext_host_name(s.ssl, m_serverName.c_str());
        X509_VERIFY_PARAM_set_hostflags(SSL_get0_param(s.ssl), X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        X509_VERIFY_PARAM_set1_host(SSL_get0_param(s.ssl), m_serverName.c_str(), 0);
    }
    s.in = BIO_new(BIO_s_mem());
    s.out = BIO_new(BIO_s_mem());
    BIO_set_mem_eof_return(s.in, -1);
    SSL_set_bio(s.ssl, s.in, s.out);
    SSL_set_connect_state(s.ssl);
    drive();
}

std::unique_ptr<TlsSession> TlsSession::server(std::string_view certificatePem, std::string_view keyPem)
{
    std::unique_ptr<TlsSession> session(new TlsSession());
    session->m_client = false;
    Ssl& s = *session->m_ssl;
    s.ctx = SSL_CTX_new(TLS_server_method());
    if (!s.ctx) {
        session->failFromLibrary(tlstexts::kHandshakeFailed);
        return session;
    }
    SSL_CTX_set_min_proto_version(s.ctx, TLS1_2_VERSION);
    BIO* certBio = BIO_new_mem_buf(certificatePem.data(), static_cast<int>(certificatePem.size()));
    BIO* keyBio = BIO_new_mem_buf(keyPem.data(), static_cast<int>(keyPem.size()));
    X509* certificate = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
    bool usable = certificate && key && SSL_CTX_use_certificate(s.ctx, certificate) == 1 &&
                  SSL_CTX_use_PrivateKey(s.ctx, key) == 1;
    // The rest of the chain, if any.
    while (usable) {
        X509* extra = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
        if (!extra)
            break;
        if (SSL_CTX_add_extra_chain_cert(s.ctx, extra) != 1) {
            X509_free(extra);
            usable = false;
        }
    }
    ERR_clear_error(); // the end of the PEM text
    X509_free(certificate);
    EVP_PKEY_free(key);
    BIO_free(certBio);
    BIO_free(keyBio);
    if (!usable || !(s.ssl = SSL_new(s.ctx))) {
        session->failFromLibrary(tlstexts::kHandshakeFailed);
        return session;
    }
    s.in = BIO_new(BIO_s_mem());
    s.out = BIO_new(BIO_s_mem());
    BIO_set_mem_eof_return(s.in, -1);
    SSL_set_bio(s.ssl, s.in, s.out);
    SSL_set_accept_state(s.ssl);
    return session;
}

TlsSession::~TlsSession() = default;

void TlsSession::feedCiphertext(std::string_view bytes)
{
    if (m_state == State::Failed || m_state == State::Closed || !m_ssl->ssl)
        return;
    while (!bytes.empty()) {
        const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 20));
        BIO_write(m_ssl->in, bytes.data(), chunk);
        bytes.remove_prefix(static_cast<std::size_t>(chunk));
    }
    drive();
}

std::string TlsSession::takeCiphertext()
{
    std::string bytes;
    if (!m_ssl->out)
        return bytes;
    char* data = nullptr;
    const long length = BIO_get_mem_data(m_ssl->out, &data);
    if (length > 0) {
        bytes.assign(data, static_cast<std::size_t>(length));
        (void)BIO_reset(m_ssl->out);
    }
    return bytes;
}

void TlsSession::writePlain(std::string_view bytes)
{
    if (m_state == State::Failed || m_state == State::Closed || m_shutDown)
        return;
    m_pendingPlain.append(bytes);
    if (m_state == State::Established)
        pump();
}

std::string TlsSession::takePlain()
{
    return std::exchange(m_plainIn, {});
}

void TlsSession::transportClosed()
{
    if (m_state == State::Handshaking)
        fail(std::string(tlstexts::kClosedInHandshake));
}

void TlsSession::shutdown()
{
    if (m_shutDown || !m_ssl->ssl || (m_state != State::Established && m_state != State::Closed))
        return;
    m_shutDown = true;
    m_pendingPlain.clear();
    ERR_clear_error();
    // 0: ours went out and the peer's has not come (it need not: the socket closes next); 1: both.
    if (SSL_shutdown(m_ssl->ssl) < 0)
        ERR_clear_error();
}

void TlsSession::drive()
{
    if (m_state == State::Handshaking) {
        ERR_clear_error();
        const int result = SSL_do_handshake(m_ssl->ssl);
        if (result != 1) {
            const int error = SSL_get_error(m_ssl->ssl, result);
            if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
                failFromLibrary(tlstexts::kHandshakeFailed);
            return;
        }
        handshakeDone();
        if (m_state != State::Established)
            return;
    }
    pump();
}

void TlsSession::handshakeDone()
{
    if (m_client) {
        X509* certificate = SSL_get0_peer_certificate(m_ssl->ssl);
        if (certificate)
            m_peerFingerprint = fingerprintOf(certificate);
        const long verified = certificate ? SSL_get_verify_result(m_ssl->ssl) : X509_V_ERR_UNSPECIFIED;
        if (verified != X509_V_OK && (m_pin.empty() || m_pin != m_peerFingerprint)) {
            CertificateInfo info;
            info.reason = std::string(reasonWords(verified));
            info.libraryReason = X509_verify_cert_error_string(verified);
            info.serverName = m_serverName;
            if (certificate) {
                info.subject = nameText(X509_get_subject_name(certificate));
                info.issuer = nameText(X509_get_issuer_name(certificate));
                info.notBefore = timeText(X509_get0_notBefore(certificate));
                info.notAfter = timeText(X509_get0_notAfter(certificate));
            }
            info.fingerprint = m_peerFingerprint;
            info.pinChanged = !m_pin.empty();
            m_errorText = std::string(tlstexts::kCertificateRefused) + info.reason + " (" + info.libraryReason + ")";
            m_problem = std::move(info);
            m_pendingPlain.clear();
            m_state = State::Failed;
            return;
        }
    }
    m_state = State::Established;
}

void TlsSession::pump()
{
    SSL* ssl = m_ssl->ssl;
    ERR_clear_error();
    if (!m_pendingPlain.empty()) {
        // Memory BIOs grow as needed, so a write is never partial.
        const int written = SSL_write(ssl, m_pendingPlain.data(), static_cast<int>(m_pendingPlain.size()));
        if (written <= 0)
            return failFromLibrary(tlstexts::kTlsBroken);
        m_pendingPlain.erase(0, static_cast<std::size_t>(written));
    }
    std::array<char, 16384> buffer;
    for (;;) {
        const int n = SSL_read(ssl, buffer.data(), static_cast<int>(buffer.size()));
        if (n > 0) {
            m_plainIn.append(buffer.data(), static_cast<std::size_t>(n));
            continue;
        }
        const int error = SSL_get_error(ssl, n);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE)
            return;
        if (error == SSL_ERROR_ZERO_RETURN) {
            m_state = State::Closed;
            return;
        }
        return failFromLibrary(tlstexts::kTlsBroken);
    }
}

void TlsSession::fail(std::string text)
{
    m_pendingPlain.clear();
    m_state = State::Failed;
    m_errorText = std::move(text);
}

void TlsSession::failFromLibrary(std::string_view head)
{
    const unsigned long code = ERR_get_error();
    const char* reason = code ? ERR_reason_error_string(code) : nullptr;
    ERR_clear_error();
    fail(std::string(head) + (reason ? reason : "unexpected data"));
}

} // namespace orvalink::mail
