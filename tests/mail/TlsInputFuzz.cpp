// Arbitrary bytes on the input side of the TLS layer with the POP3 engine behind it. The first byte
// chooses: even, the bytes are what the server sends on the socket from the first byte (the
// handshake must fail or wait, never hand out plain text from an unverified peer); odd, a real
// in-memory server finishes a handshake with a pinned certificate and the rest is the server's
// plain text, carried through TLS in records cut where the input says, into the engine. No crash,
// no plain text before the handshake, the engine sees exactly what the server wrote.
#include "mail/engine/Pop3Engine.h"
#include "mail/tls/TlsSession.h"
#include "support/TestCertificates.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orvalink::mail {
namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

class NullSink : public Pop3MessageSink {
public:
    std::string beginMessage(int) override { return {}; }
    std::string writeMessageData(std::string_view) override { return {}; }
    std::vector<std::string> completeMessage(int, std::string_view) override { return {}; }
    void abandonMessage(int) override {}
};

const orvalink::testing::TestCertificate& certificate()
{
    static const auto made = orvalink::testing::makeCertificate({.name = "mail.example.test"});
    return made;
}

} // namespace
} // namespace orvalink::mail

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace orvalink::mail;
    if (size < 2)
        return 0;
    const bool throughServer = data[0] & 1;
    const std::size_t step = 1 + data[1] % 64;
    std::string_view input(reinterpret_cast<const char*>(data + 2), size - 2);
    NullSink sink;
    Pop3Engine engine({"taro", "pw"}, sink, {}, TransportSecurity::Implicit);
    if (!throughServer) {
        TlsSession client("mail.example.test");
        while (!input.empty()) {
            const std::size_t n = std::min(step, input.size());
            client.feedCiphertext(input.substr(0, n));
            input.remove_prefix(n);
            // No server can finish a handshake by chance: no plain text ever comes out.
            check(client.takePlain().empty());
            check(!client.established());
        }
        client.transportClosed();
        check(client.state() == TlsSession::State::Failed);
        return 0;
    }
    const auto& made = certificate();
    auto server = TlsSession::server(made.certificatePem, made.keyPem);
    TlsSession probe("mail.example.test");
    server->feedCiphertext(probe.takeCiphertext());
    probe.feedCiphertext(server->takeCiphertext());
    const std::string pin = probe.peerFingerprint();
    server = TlsSession::server(made.certificatePem, made.keyPem);
    TlsSession client("mail.example.test", pin);
    server->feedCiphertext(client.takeCiphertext());
    client.feedCiphertext(server->takeCiphertext());
    server->feedCiphertext(client.takeCiphertext());
    check(client.established());
    std::string seen;
    while (!input.empty()) {
        const std::size_t n = std::min(step, input.size());
        server->writePlain(input.substr(0, n));
        input.remove_prefix(n);
        client.feedCiphertext(server->takeCiphertext());
        const std::string plain = client.takePlain();
        seen += plain;
        const Pop3Step s = engine.feed(plain);
        server->feedCiphertext(client.takeCiphertext());
        client.writePlain(s.send);
    }
    check(seen == std::string_view(reinterpret_cast<const char*>(data + 2), size - 2));
    return 0;
}
