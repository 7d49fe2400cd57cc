// Downloads through TLS from a real dovecot in the test's private network: TLS from the first byte
// on 995 and STLS on 110, with a throw-away CA (trusted through SSL_CERT_FILE) and certificates the
// test makes. Refused certificates say why and send no password; a self-signed one trusted through
// the question is let through from then on, and a new one asks again.

#include "mail/MailAccountStore.h"
#include "mail/MailTestSupport.h"
#include "mail/ReceiveCommand.h"
#include "mail/ReceiveDialog.h"
#include "mail/tls/TlsTexts.h"
#include "platform/MessageBoxRecorder.h"
#include "store/MailStore.h"
#include "support/MailServers.h"
#include "support/PrivateNetwork.h"
#include "support/TestCertificates.h"
#include "support/TestFiles.h"

#include <QTest>
#include <gtest/gtest.h>

namespace orvalink::mail {
namespace {

using orvalink::testing::makeCertificate;
using orvalink::testing::TestCertificate;
constexpr const char* kAddress = orvalink::test::kPrivateHostAddress;

class ReceiveTls : public ::testing::Test {
protected:
    void SetUp() override
    {
        ORVALINK_REQUIRE_PRIVATE_NETWORK();
        m_directory.set(m_mailDir.path());
        m_ca = makeCertificate({.name = "Orvalink Test CA", .ca = true});
        test::writeFile(m_files.file("ca.pem"), m_ca.certificatePem);
        m_caEnv = std::make_unique<test::ScopedEnv>("SSL_CERT_FILE", m_files.file("ca.pem"));
    }
    void TearDown() override
    {
        m_command.closeWindow();
        m_directory.set("");
    }

    // A dovecot serving `certificate`, with one new message in its maildir.
    std::unique_ptr<test::DovecotPop3> server(const TestCertificate& certificate)
    {
        const std::string name = "server" + std::to_string(++m_servers);
        test::writeFile(m_files.file(name + ".pem"), certificate.certificatePem);
        test::writeFile(m_files.file(name + ".key"), certificate.keyPem);
        auto dovecot = std::make_unique<test::DovecotPop3>(kAddress, 110, "taro", "secret");
        dovecot->enableTls(m_files.file(name + ".pem"), m_files.file(name + ".key"), 995);
        if (!dovecot->start())
            return nullptr;
        dovecot->addMessage("Subject: over TLS " + name + "\r\n\r\nbody " + name + "\r\n");
        return dovecot;
    }
    void account(TransportSecurity security, std::string port)
    {
        MailAccountStore store;
        MailAccount a = store.read(1);
        a.serverName = "home";
        a.popServer = kAddress;
        a.popPort = std::move(port);
        a.popAccount = "taro";
        a.popPassword = "secret";
        a.popSecurity = storedSecurity(security);
        store.write(1, a);
        store.setCount(1);
    }
    // Runs one download to its end: true when the window closed (everything received).
    bool download()
    {
        ReceiveDialog* window = m_command.run();
        if (!window)
            return false;
        const bool over =
            QTest::qWaitFor([&] { return !m_command.dialog() || (!m_command.dialog()->downloading()); }, 30000);
        if (!over)
            return false;
        if (!m_command.dialog())
            return true;
        m_errors = m_command.dialog()->errors();
        m_command.closeWindow();
        return false;
    }
    std::size_t filedCount() const
    {
        const auto folder = orvalink::store::folderFsPath(m_mailDir.path(), orvalink::store::kReceivedFolder);
        const auto listing = folder ? orvalink::store::readFolderIndex(*folder) : std::nullopt;
        return listing ? listing->entries.size() : 0;
    }
    static bool loggedIn(const test::DovecotPop3& dovecot)
    {
        return test::readFile(dovecot.log()).find("Login: user=<taro>") != std::string::npos;
    }

    ProfileSandbox m_settings;
    platform::MessageBoxRecorder m_boxes;
    test::TempDir m_mailDir{"orvalink-mail"};
    test::TempDir m_files{"orvalink-tls"};
    TestCertificate m_ca;
    std::unique_ptr<test::ScopedEnv> m_caEnv;
    MailDirectory m_directory;
    ReceiveCommand m_command{m_directory};
    std::vector<std::string> m_errors;
    int m_servers = 0;
};

TEST_F(ReceiveTls, TrustedServerOverImplicitTlsStlsAndPlain)
{
    const TestCertificate good = makeCertificate({.name = kAddress}, &m_ca);
    struct Case {
        const char* what;
        TransportSecurity security;
        std::string port;
    };
    const Case cases[] = {
        {"TLS from the first byte, port left empty", TransportSecurity::Implicit, ""},
        {"TLS from the first byte on 995", TransportSecurity::Implicit, "995"},
        {"STLS on 110", TransportSecurity::StartTls, "110"},
        {"plain", TransportSecurity::None, "110"},
    };
    std::size_t expected = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto dovecot = server(good);
        ASSERT_TRUE(dovecot) << "dovecot";
        account(c.security, c.port);
        EXPECT_TRUE(download()) << (m_errors.empty() ? "" : m_errors.front());
        EXPECT_EQ(filedCount(), ++expected);
        EXPECT_TRUE(loggedIn(*dovecot));
        EXPECT_EQ(m_boxes.calls().size(), 0u);
    }
}

TEST_F(ReceiveTls, RefusedCertificatesSayWhyAndSendNoPassword)
{
    struct Case {
        const char* what;
        TestCertificate certificate;
        std::string_view reason;
        TransportSecurity security;
    };
    const Case cases[] = {
        {"another name", makeCertificate({.name = "other.example.test"}, &m_ca), tlstexts::kHostMismatch,
         TransportSecurity::Implicit},
        {"expired", makeCertificate({.name = kAddress, .validFromSeconds = -86400, .validToSeconds = -60}, &m_ca),
         tlstexts::kExpired, TransportSecurity::StartTls},
        {"self-signed", makeCertificate({.name = kAddress}), tlstexts::kSelfSigned, TransportSecurity::Implicit},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto dovecot = server(c.certificate);
        ASSERT_TRUE(dovecot) << "dovecot";
        account(c.security, c.security == TransportSecurity::Implicit ? "995" : "110");
        m_boxes.pushAnswer(platform::IDNO);
        const std::size_t asked = m_boxes.calls().size();
        EXPECT_FALSE(download());
        ASSERT_EQ(m_boxes.calls().size(), asked + 1);
        const std::string question = m_boxes.calls().back().text;
        EXPECT_NE(question.find(c.reason), std::string::npos);
        EXPECT_NE(question.find(kAddress), std::string::npos);
        EXPECT_NE(question.find("SHA-256: "), std::string::npos);
        EXPECT_EQ(m_boxes.calls().back().type,
                  platform::MB_YESNO | platform::MB_ICONQUESTION | platform::MB_DEFBUTTON2);
        ASSERT_EQ(m_errors.size(), 1u);
        EXPECT_NE(m_errors[0].find(c.reason), std::string::npos);
        EXPECT_EQ(filedCount(), 0u);
        EXPECT_FALSE(loggedIn(*dovecot));
        EXPECT_EQ(MailAccountStore().read(1).popCertPin, "");
    }
}

TEST_F(ReceiveTls, SelfSignedTrustedThroughTheQuestionThenAcceptedAndANewOneAsksAgain)
{
    const TestCertificate first = makeCertificate({.name = kAddress});
    auto dovecot = server(first);
    ASSERT_TRUE(dovecot) << "dovecot";
    account(TransportSecurity::Implicit, "995");
    m_boxes.pushAnswer(platform::IDYES);
    EXPECT_TRUE(download()) << (m_errors.empty() ? "" : m_errors.front());
    EXPECT_EQ(m_boxes.calls().size(), 1u);
    EXPECT_EQ(filedCount(), 1u);
    const std::string pin = MailAccountStore().read(1).popCertPin;
    EXPECT_EQ(pin.size(), 64u);
    EXPECT_NE(m_boxes.calls()[0].text.find(pin.substr(0, 2) + ":" + pin.substr(2, 2)), std::string::npos);

    // The same certificate again: no question.
    dovecot->addMessage("Subject: again\r\n\r\nagain\r\n");
    EXPECT_TRUE(download());
    EXPECT_EQ(m_boxes.calls().size(), 1u);
    EXPECT_EQ(filedCount(), 2u);

    // Another certificate: asked again, saying it changed; No keeps the old pin.
    dovecot.reset();
    auto second = server(makeCertificate({.name = kAddress}));
    ASSERT_TRUE(second);
    m_boxes.pushAnswer(platform::IDNO);
    EXPECT_FALSE(download());
    ASSERT_EQ(m_boxes.calls().size(), 2u);
    EXPECT_NE(m_boxes.calls()[1].text.find(tlstexts::kPinChanged), std::string::npos);
    EXPECT_EQ(MailAccountStore().read(1).popCertPin, pin);
    EXPECT_FALSE(loggedIn(*second));
}

} // namespace
} // namespace orvalink::mail
