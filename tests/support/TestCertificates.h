#pragma once

// Throw-away certificates for the TLS tests, made in code: a CA, server certificates it signs
// (for a name, expired, not yet valid) and self-signed ones, as PEM text. P-256 keys, so making one
// takes a moment only.

#include <atomic>
#include <fstream>
#include <memory>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <stdexcept>
#include <string>

namespace orvalink::testing {

struct TestCertificate {
    std::shared_ptr<EVP_PKEY> key;
    std::shared_ptr<X509> certificate;
    std::string certificatePem;
    std::string keyPem;
};

struct CertificateOptions {
    std::string name;              // CN and subjectAltName (DNS, or IP when it is an address)
    long validFromSeconds = -3600; // relative to now
    long validToSeconds = 86400;
    bool ca = false;
};

namespace detail {

inline std::string pemOf(auto write, auto* object)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    write(bio.get(), object);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(length));
}

inline void addExtension(X509* certificate, X509* issuer, int nid, const char* value)
{
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (!extension)
        throw std::runtime_error("certificate extension");
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

} // namespace detail

// Signed by `issuer`, or self-signed when it is null.
inline TestCertificate makeCertificate(const CertificateOptions& options, const TestCertificate* issuer = nullptr)
{
    static std::atomic<long> serial{1000};
    TestCertificate made;
    made.key.reset(EVP_EC_gen("P-256"), EVP_PKEY_free);
    made.certificate.reset(X509_new(), X509_free);
    X509* c = made.certificate.get();
    X509_set_version(c, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(c), ++serial);
    X509_gmtime_adj(X509_getm_notBefore(c), options.validFromSeconds);
    X509_gmtime_adj(X509_getm_notAfter(c), options.validToSeconds);
    X509_set_pubkey(c, made.key.get());
    X509_NAME* name = X509_get_subject_name(c);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Orvalink test"), -1, -1,
                               0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(options.name.c_str()),
                               -1, -1, 0);
    X509* signer = issuer ? issuer->certificate.get() : c;
    X509_set_issuer_name(c, X509_get_subject_name(signer));
    if (options.ca) {
        detail::addExtension(c, signer, NID_basic_constraints, "critical,CA:TRUE");
        detail::addExtension(c, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        const bool address = options.name.find_first_not_of("0123456789.") == std::string::npos;
        const std::string san = (address ? "IP:" : "DNS:") + options.name;
        detail::addExtension(c, signer, NID_subject_alt_name, san.c_str());
        detail::addExtension(c, signer, NID_basic_constraints, "CA:FALSE");
    }
    detail::addExtension(c, signer, NID_subject_key_identifier, "hash");
    if (X509_sign(c, issuer ? issuer->key.get() : made.key.get(), EVP_sha256()) <= 0)
        throw std::runtime_error("certificate signature");
    made.certificatePem = detail::pemOf([](BIO* b, X509* x) { PEM_write_bio_X509(b, x); }, c);
    made.keyPem = detail::pemOf(
        [](BIO* b, EVP_PKEY* k) { PEM_write_bio_PrivateKey(b, k, nullptr, nullptr, 0, nullptr, nullptr); },
        made.key.get());
    return made;
}

inline void writeText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

} // namespace orvalink::testing
