// The TLS layer on its own: a client session paired with a server session in memory, no socket.
// Handshakes fed whole and split at every position, the certificate cases a user meets (each with
// its reason), pinned certificates, and input that is not TLS at all.
#include "mail/tls/TlsSession.h"

#include "mail/tls/TlsTexts.h"
#include "support/TestCertificates.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

namespace orvalink::mail {
namespace {

using orvalink::testing::CertificateOptions;
using orvalink::testing::makeCertificate;
using orvalink::testing::TestCertificate;

constexpr const char* kHost = "mail.example.test";

// One CA trusted through SSL_CERT_FILE for the whole suite.
class TlsSessionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_folder = std::make_unique<test::TempDir>("tls-session");
        s_ca = makeCertificate({.name = "Orvalink Test CA", .ca = true});
        test::writeFile(s_folder->file("ca.pem"), s_ca.certificatePem);
        s_good = makeCertificate({.name = kHost}, &s_ca);
    }
    static void TearDownTestSuite() { s_folder.reset(); }

    void SetUp() override { m_env = std::make_unique<test::ScopedEnv>("SSL_CERT_FILE", s_folder->file("ca.pem")); }

    static std::unique_ptr<TlsSession> serverWith(const TestCertificate& certificate)
    {
        return TlsSession::server(certificate.certificatePem, certificate.keyPem);
    }

    // Moves ciphertext both ways until neither side has any.
    static void pair(TlsSession& client, TlsSession& server)
    {
        for (int round = 0; round < 20; ++round) {
            const std::string toServer = client.takeCiphertext();
            if (!toServer.empty())
                server.feedCiphertext(toServer);
            const std::string toClient = server.takeCiphertext();
            if (!toClient.empty())
                client.feedCiphertext(toClient);
            if (toServer.empty() && toClient.empty())
                return;
        }
    }

    static std::unique_ptr<test::TempDir> s_folder;
    static TestCertificate s_ca;
    static TestCertificate s_good;
    std::unique_ptr<test::ScopedEnv> m_env;
};

std::unique_ptr<test::TempDir> TlsSessionTest::s_folder;
TestCertificate TlsSessionTest::s_ca;
TestCertificate TlsSessionTest::s_good;

TEST_F(TlsSessionTest, TrustedServerCarriesBothWaysAndHoldsPlainTextUntilTheHandshakeIsOver)
{
    TlsSession client(kHost);
    auto server = serverWith(s_good);
    // Written before the handshake: it must not leave before the certificate was checked.
    client.writePlain("USER taro\r\n");
    pair(client, *server);
    ASSERT_EQ(client.state(), TlsSession::State::Established) << client.errorText();
    EXPECT_FALSE(client.certificateProblem());
    EXPECT_EQ(server->takePlain(), "USER taro\r\n");
    server->writePlain("+OK\r\n");
    pair(client, *server);
    EXPECT_EQ(client.takePlain(), "+OK\r\n");
    EXPECT_EQ(client.peerFingerprint().size(), 64u);
}

TEST_F(TlsSessionTest, ServerFlightAndFirstRecordSplitAtEveryPosition)
{
    // The server's whole first flight, then its first record of data, in two reads cut at every
    // position: the client ends in the same state with the same plain text.
    TlsSession probeClient(kHost);
    auto probeServer = serverWith(s_good);
    probeServer->feedCiphertext(probeClient.takeCiphertext());
    const std::size_t flightSize = probeServer->takeCiphertext().size();
    ASSERT_GT(flightSize, 100u);
    for (std::size_t cut = 0; cut <= flightSize; ++cut) {
        TlsSession client(kHost);
        auto server = serverWith(s_good);
        server->feedCiphertext(client.takeCiphertext());
        const std::string flight = server->takeCiphertext();
        client.feedCiphertext(std::string_view(flight).substr(0, cut));
        client.feedCiphertext(std::string_view(flight).substr(std::min(cut, flight.size())));
        ASSERT_EQ(client.state(), TlsSession::State::Established) << "cut " << cut << ": " << client.errorText();
        server->feedCiphertext(client.takeCiphertext());
        server->writePlain("+OK ready\r\n");
        const std::string record = server->takeCiphertext();
        const std::size_t recordCut = cut % (record.size() + 1);
        client.feedCiphertext(std::string_view(record).substr(0, recordCut));
        client.feedCiphertext(std::string_view(record).substr(recordCut));
        ASSERT_EQ(client.takePlain(), "+OK ready\r\n") << "cut " << cut;
    }
}

TEST_F(TlsSessionTest, UntrustedCertificatesStopBeforeAnyPlainTextWithTheirReason)
{
    const TestCertificate otherCa = makeCertificate({.name = "Unknown CA", .ca = true});
    struct Case {
        const char* what;
        TestCertificate certificate;
        std::string_view reason;
        const char* libraryReason;
    };
    const Case cases[] = {
        {"another name", makeCertificate({.name = "other.example.test"}, &s_ca), tlstexts::kHostMismatch,
         "hostname mismatch"},
        {"expired", makeCertificate({.name = kHost, .validFromSeconds = -86400, .validToSeconds = -3600}, &s_ca),
         tlstexts::kExpired, "certificate has expired"},
        {"not yet valid", makeCertificate({.name = kHost, .validFromSeconds = 86400, .validToSeconds = 172800}, &s_ca),
         tlstexts::kNotYetValid, "certificate is not yet valid"},
        {"self-signed", makeCertificate({.name = kHost}), tlstexts::kSelfSigned, "self-signed certificate"},
        {"unknown issuer", makeCertificate({.name = kHost}, &otherCa), tlstexts::kUnknownIssuer,
         "unable to get local issuer certificate"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TlsSession client(kHost);
        auto server = serverWith(c.certificate);
        client.writePlain("PASS secret\r\n");
        pair(client, *server);
        ASSERT_EQ(client.state(), TlsSession::State::Failed);
        EXPECT_EQ(client.errorText(),
                  std::string(tlstexts::kCertificateRefused) + std::string(c.reason) + " (" + c.libraryReason + ")");
        ASSERT_TRUE(client.certificateProblem());
        const CertificateInfo& info = *client.certificateProblem();
        EXPECT_EQ(info.reason, c.reason);
        EXPECT_EQ(info.libraryReason, c.libraryReason);
        EXPECT_EQ(info.serverName, kHost);
        EXPECT_NE(info.subject.find("CN="), std::string::npos) << info.subject;
        EXPECT_NE(info.issuer.find("O=Orvalink test"), std::string::npos) << info.issuer;
        EXPECT_NE(info.notAfter.find(" UTC"), std::string::npos) << info.notAfter;
        EXPECT_EQ(info.fingerprint, client.peerFingerprint());
        EXPECT_FALSE(info.pinChanged);
        EXPECT_EQ(server->takePlain(), "");
        // Nothing more is sent, whatever the engine still writes.
        client.writePlain("more\r\n");
        EXPECT_EQ(client.takeCiphertext(), "");
    }
}

TEST_F(TlsSessionTest, PinnedCertificateIsAcceptedExactlyAndAnotherOneAsksAgain)
{
    const TestCertificate selfSigned = makeCertificate({.name = kHost});
    TlsSession first(kHost);
    auto server = serverWith(selfSigned);
    pair(first, *server);
    ASSERT_TRUE(first.certificateProblem());
    const std::string pin = first.certificateProblem()->fingerprint;
    EXPECT_EQ(first.certificateProblem()->displayFingerprint().size(), 64u + 31u);

    struct Case {
        const char* what;
        std::string pin;
        const TestCertificate* certificate;
        bool established;
        bool changed;
    };
    std::string lowerWithColons;
    for (std::size_t i = 0; i < pin.size(); ++i)
        lowerWithColons += std::string(i && i % 2 == 0 ? ":" : "") + static_cast<char>(std::tolower(pin[i]));
    const TestCertificate replacement = makeCertificate({.name = kHost});
    const Case cases[] = {
        {"the pinned one", pin, &selfSigned, true, false},
        {"pin written in pairs, lower case", lowerWithColons, &selfSigned, true, false},
        {"a new certificate", pin, &replacement, false, true},
        {"a trusted certificate needs no pin", pin, &s_good, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TlsSession client(kHost, c.pin);
        auto s = serverWith(*c.certificate);
        client.writePlain("USER taro\r\n");
        pair(client, *s);
        EXPECT_EQ(client.established(), c.established) << client.errorText();
        EXPECT_EQ(s->takePlain(), c.established ? "USER taro\r\n" : "");
        EXPECT_EQ(client.certificateProblem().has_value(), !c.established);
        if (client.certificateProblem()) {
            EXPECT_EQ(client.certificateProblem()->pinChanged, c.changed);
        }
    }
}

TEST_F(TlsSessionTest, InputThatIsNotTlsFailsAndNeverHangs)
{
    auto flightOfRealServer = [] {
        TlsSession client(kHost);
        auto server = serverWith(s_good);
        server->feedCiphertext(client.takeCiphertext());
        return server->takeCiphertext();
    };
    const std::string flight = flightOfRealServer();
    struct Case {
        const char* what;
        std::string bytes;
        bool closeAfter;
        std::string_view textStart;
    };
    const Case cases[] = {
        {"plain POP3 greeting", "+OK POP3 ready\r\n", false, tlstexts::kHandshakeFailed},
        {"plain SMTP greeting", "220 mail.example.test ESMTP\r\n", false, tlstexts::kHandshakeFailed},
        {"garbage", std::string("\x16\x03\x01\xff\xff garbage", 12) + std::string(300, '\x7f'), false,
         tlstexts::kHandshakeFailed},
        {"an alert record", std::string("\x15\x03\x03\x00\x02\x02\x28", 7), false, tlstexts::kHandshakeFailed},
        {"nothing, then closed", "", true, tlstexts::kClosedInHandshake},
        {"half a handshake, then closed", "HALF", true, tlstexts::kClosedInHandshake},
        {"another client's server flight", flight, false, tlstexts::kHandshakeFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TlsSession client(kHost);
        client.writePlain("USER taro\r\n");
        if (c.bytes == "HALF") {
            // The first half of the flight of this client's own server, cut mid-record.
            auto server = serverWith(s_good);
            server->feedCiphertext(client.takeCiphertext());
            const std::string own = server->takeCiphertext();
            client.feedCiphertext(std::string_view(own).substr(0, own.size() / 2));
        } else {
            (void)client.takeCiphertext();
            client.feedCiphertext(c.bytes);
        }
        if (c.closeAfter) {
            EXPECT_EQ(client.state(), TlsSession::State::Handshaking);
            client.transportClosed();
        }
        ASSERT_EQ(client.state(), TlsSession::State::Failed);
        EXPECT_EQ(client.errorText().substr(0, c.textStart.size()), c.textStart) << client.errorText();
        if (!c.closeAfter) {
            EXPECT_GT(client.errorText().size(), c.textStart.size()) << "the library's reason follows";
        }
        EXPECT_EQ(client.takePlain(), "");
    }
}

TEST_F(TlsSessionTest, CloseNotifyEndsTheConversationCleanlyWhicheverSideSaysItFirst)
{
    // The client ends after the last reply: the server reads a clean end, the alert split anywhere.
    std::size_t alertSize = 1;
    for (std::size_t cut = 0; cut <= alertSize; ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        TlsSession client(kHost);
        auto server = serverWith(s_good);
        pair(client, *server);
        server->writePlain("+OK bye\r\n");
        pair(client, *server);
        ASSERT_EQ(client.takePlain(), "+OK bye\r\n");
        client.shutdown();
        const std::string alert = client.takeCiphertext();
        alertSize = alert.size();
        ASSERT_FALSE(alert.empty());
        server->feedCiphertext(alert.substr(0, cut));
        server->feedCiphertext(alert.substr(cut));
        EXPECT_EQ(server->state(), TlsSession::State::Closed) << server->errorText();
        // Nothing goes out after the goodbye, and saying it twice says nothing more.
        client.writePlain("NOOP\r\n");
        client.shutdown();
        EXPECT_EQ(client.takeCiphertext(), "");
    }

    // The server says it first: the client sees the end, and its own answer does not fail it.
    TlsSession client(kHost);
    auto server = serverWith(s_good);
    pair(client, *server);
    server->shutdown();
    client.feedCiphertext(server->takeCiphertext());
    EXPECT_EQ(client.state(), TlsSession::State::Closed);
    client.shutdown();
    const std::string answer = client.takeCiphertext();
    EXPECT_FALSE(answer.empty());
    server->feedCiphertext(answer);
    EXPECT_EQ(client.state(), TlsSession::State::Closed);
    EXPECT_EQ(server->state(), TlsSession::State::Closed) << server->errorText();

    // A session that failed has nothing to say.
    TlsSession refused(kHost);
    auto selfSigned = serverWith(makeCertificate({.name = kHost}));
    pair(refused, *selfSigned);
    ASSERT_EQ(refused.state(), TlsSession::State::Failed);
    refused.takeCiphertext();
    refused.shutdown();
    EXPECT_EQ(refused.takeCiphertext(), "");
}

TEST_F(TlsSessionTest, ServerWithUnusableKeyFails)
{
    const TestCertificate other = makeCertificate({.name = kHost});
    auto server = TlsSession::server(s_good.certificatePem, other.keyPem);
    EXPECT_EQ(server->state(), TlsSession::State::Failed);
}

} // namespace
} // namespace orvalink::mail
