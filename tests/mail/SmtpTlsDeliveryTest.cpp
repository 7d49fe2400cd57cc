// The compose window's send worker over its real connection glue to aiosmtpd with STARTTLS, implicit
// TLS and AUTH, in this test's own network namespace. The certificates are made here with the
// openssl command line, and OpenSSL is pointed at the test's CA. The server writes down every byte
// it received before TLS, and no password may be among them unless clear-text AUTH was allowed.
// The compose window asks about a certificate it cannot trust, as the receive window does.
#include "mail/CSendFrame.h"
#include "mail/CSendHeaderBar.h"
#include "mail/CSendThread.h"
#include "mail/CSendView.h"
#include "mail/CSendWorker.h"
#include "mail/ComposeThreadTable.h"
#include "mail/ComposeWindows.h"
#include "mail/MailTestSupport.h"
#include "mail/engine/MailText.h"
#include "mail/engine/SmtpConversation.h"
#include "mail/engine/SmtpTexts.h"
#include "mail/tls/TlsTexts.h"
#include "platform/MessageBoxRecorder.h"
#include "res/ResourceIds.h"
#include "support/OpensslCertificates.h"
#include "support/PrivateNetwork.h"
#include "support/SmtpSink.h"
#include "support/TestCertificates.h"
#include "support/TestFiles.h"

#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace orvalink::mail {

namespace {

using test::readFile;
using test::ScopedEnv;
using test::SmtpSink;
using test::TempDir;
using test::writeFile;

constexpr const char* kUser = "taro";
constexpr const char* kPassword = "s3cret-Pw";

struct Outcome {
    bool sent = false;
    std::string failure; // what the window would show
};

Outcome send(const MailAccount& account)
{
    CSendWorker worker;
    Outcome outcome;
    QEventLoop loop;
    QObject::connect(&worker, &CSendWorker::mailSent, &loop, [&] {
        outcome.sent = true;
        loop.quit();
    });
    QObject::connect(&worker, &CSendWorker::failed, &loop, [&](const QByteArray& text) {
        outcome.failure += text.toStdString();
        loop.quit();
    });
    SmtpRequest request;
    request.account = account;
    request.to = "hanako@example.com";
    request.subject = "TLS";
    request.body = "over TLS";
    request.localHostName = "desk7.example.jp";
    QTimer::singleShot(0, &loop, [&] { worker.startSend(request); });
    // Only so that a broken set-up cannot hang the test: the worker's own silence rule ends a wait.
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    loop.exec();
    return outcome;
}

struct TlsCase {
    const char* name;
    const char* mode;       // the server: "starttls", "implicit", "plain"
    const char* exclude;    // an AUTH mechanism the server does not offer, or ""
    bool clearAuthOnServer; // the server offers AUTH without TLS
    const char* security;   // the account's "SMTP Security"
    const char* auth;       // "SMTP Auth"
    const char* plainAuth;  // "SMTP PlainAuth"
    const char* password;   // the password the account sends
    bool delivered;
    std::string failureHas; // a text the failure shows
};

void PrintTo(const TlsCase& c, std::ostream* os)
{
    *os << c.name;
}

class SmtpTls : public ::testing::TestWithParam<TlsCase> {};

TEST_P(SmtpTls, SendsThroughTheServerAndNeverAPasswordInClear)
{
    ORVALINK_REQUIRE_PRIVATE_NETWORK();
    const TlsCase& c = GetParam();
    TempDir dir{"smtp-tls"};
    ASSERT_TRUE(test::makeOpensslCertificates(dir.path())) << "openssl could not make the certificates";
    ScopedEnv trust("SSL_CERT_FILE", dir.path() + "/ca.pem");
    std::string config = std::string("{\"mode\": \"") + c.mode + "\", \"cert\": \"" + dir.path() +
                         "/server.pem\", \"key\": \"" + dir.path() + "/server.key\", \"user\": \"" + kUser +
                         "\", \"password\": \"" + kPassword +
                         "\", \"clear_auth\": " + (c.clearAuthOnServer ? "true" : "false");
    if (*c.exclude)
        config += std::string(", \"exclude\": [\"") + c.exclude + "\"]";
    writeFile(dir.path() + "/server.json", config + "}");
    const char* source = std::getenv("ORVALINK_SOURCE_DIR");
    SmtpSink server(dir.path(), 2525, "0.0.0.0", std::string(source ? source : ".") + "/tests/mail/smtp_tls_server.py");
    ASSERT_TRUE(server.ready()) << server.failure();

    MailAccount account;
    account.serverName = "tls";
    account.smtpServer = "127.0.0.1";
    account.smtpPort = "2525";
    account.emailAddress = "taro@example.jp";
    account.popAccount = kUser; // the SMTP user is left empty: the POP3 one is used
    account.smtpPassword = c.password;
    account.smtpSecurity = c.security;
    account.smtpAuth = c.auth;
    account.plainAuth = c.plainAuth;
    const Outcome outcome = send(account);

    // What crossed in clear first: it is checked whatever became of the mail.
    const std::string clear =
        std::filesystem::exists(dir.path() + "/clear.bin") ? readFile(dir.path() + "/clear.bin") : "";
    const std::string plainResponse = std::string(1, '\0') + kUser + '\0' + c.password;
    const bool passwordInClear = clear.find(c.password) != std::string::npos ||
                                 clear.find(base64(c.password)) != std::string::npos ||
                                 clear.find(base64(plainResponse)) != std::string::npos;
    EXPECT_EQ(passwordInClear, std::string_view(c.plainAuth) == "1") << clear;
    EXPECT_EQ(outcome.sent, c.delivered) << outcome.failure;
    if (c.delivered) {
        ASSERT_TRUE(server.waitForMails(1));
        EXPECT_EQ(server.mails().at(0).mailFrom, "taro@example.jp");
    } else {
        EXPECT_NE(outcome.failure.find(c.failureHas), std::string::npos) << outcome.failure;
        EXPECT_EQ(server.mailCount(), 0u);
    }
    if (std::string_view(c.mode) == "starttls") {
        EXPECT_NE(clear.find("STARTTLS\r\n"), std::string::npos) << clear;
    }
}

const std::string kAuthRefused =
    std::string(texts::kSmtpAuthRefused) + "\r\n" + std::string(texts::kServerReply) + "535";

INSTANTIATE_TEST_SUITE_P(
    Send, SmtpTls,
    ::testing::Values(TlsCase{"StartTlsAuthPlain", "starttls", "", false, "1", "1", "", kPassword, true, ""},
                      TlsCase{"StartTlsAuthLogin", "starttls", "PLAIN", false, "1", "1", "", kPassword, true, ""},
                      TlsCase{"StartTlsWithoutAuth", "starttls", "", false, "1", "", "", kPassword, true, ""},
                      TlsCase{"ImplicitAuthPlain", "implicit", "", false, "2", "1", "", kPassword, true, ""},
                      TlsCase{"ImplicitWithoutAuth", "implicit", "", false, "2", "", "", kPassword, true, ""},
                      TlsCase{"WrongPassword", "starttls", "", false, "1", "1", "", "wrong-pw", false, kAuthRefused},
                      TlsCase{"WrongPasswordImplicitLogin", "implicit", "PLAIN", false, "2", "1", "", "wrong-pw", false,
                              kAuthRefused},
                      // Allowed by the user: the password crosses in clear, and the recording sees it.
                      TlsCase{"ClearAuthWhenAllowed", "plain", "", true, "", "1", "1", kPassword, true, ""},
                      // A plain server on the implicit TLS port: the handshake fails, nothing more is said.
                      TlsCase{"ImplicitAgainstAPlainServer", "plain", "", false, "2", "1", "", kPassword, false,
                              std::string(texts::kSmtpTlsFailed)},
                      // A plain server on the STARTTLS account: nothing but EHLO is said.
                      TlsCase{"StartTlsNotOffered", "plain", "", true, "1", "1", "", kPassword, false,
                              std::string(texts::kSmtpNoStartTls)}),
    [](const ::testing::TestParamInfo<TlsCase>& p) { return std::string(p.param.name); });

// The compose window against aiosmtpd serving a certificate the test made, account 1 sending with
// AUTH; every question is answered through the message box recorder.
class ComposeCertificate : public ::testing::Test {
protected:
    void SetUp() override
    {
        ORVALINK_REQUIRE_PRIVATE_NETWORK();
        setMailDirectory(m_mailDir.path());
        m_ca = orvalink::testing::makeCertificate({.name = "Orvalink Test CA", .ca = true});
        writeFile(m_files.file("ca.pem"), m_ca.certificatePem);
        m_trust = std::make_unique<ScopedEnv>("SSL_CERT_FILE", m_files.file("ca.pem"));
    }
    void TearDown() override
    {
        for (CSendThread* t : composeThreadTable().threads)
            if (t && t->frame())
                delete t->frame();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        setMailDirectory("");
    }

    // Replaces the server by one serving `certificate` in `mode` ("starttls" or "implicit").
    bool serve(const orvalink::testing::TestCertificate& certificate, const char* mode)
    {
        m_server.reset();
        m_folder = m_files.file("server" + std::to_string(++m_servers));
        std::filesystem::create_directories(m_folder);
        writeFile(m_folder + "/server.pem", certificate.certificatePem);
        writeFile(m_folder + "/server.key", certificate.keyPem);
        writeFile(m_folder + "/server.json",
                  std::string("{\"mode\": \"") + mode + "\", \"cert\": \"" + m_folder + "/server.pem\", \"key\": \"" +
                      m_folder + "/server.key\", \"user\": \"" + kUser + "\", \"password\": \"" + kPassword + "\"}");
        const char* source = std::getenv("ORVALINK_SOURCE_DIR");
        m_server = std::make_unique<SmtpSink>(m_folder, 2525, "0.0.0.0",
                                              std::string(source ? source : ".") + "/tests/mail/smtp_tls_server.py");
        return m_server->ready();
    }
    static void account(TransportSecurity security)
    {
        storeAccounts({"first"}, 1);
        MailAccountStore store;
        MailAccount a = store.read(1);
        a.smtpServer = "127.0.0.1";
        a.smtpPort = "2525";
        a.smtpSecurity = storedSecurity(security);
        a.smtpAuth = "1";
        a.smtpUser = kUser;
        a.smtpPassword = kPassword;
        store.write(1, a);
    }
    // Sends from a new compose window: true when the mail went and the window closed; false when
    // two more boxes were shown (the question and the refusal), the window then still open.
    bool send(const std::string& subject)
    {
        CSendThread* thread = OpenComposeWindow("hanako@example.com", subject);
        if (!thread || !thread->frame())
            return false;
        m_window = thread->frame();
        m_window->view()->setText("over TLS");
        const std::size_t boxes = m_boxes.calls().size();
        const int slot = thread->windowSlot();
        m_window->onCommand(res::kCmdComposeSend);
        const auto open = [slot] { return composeThreadTable().threads[static_cast<std::size_t>(slot)] != nullptr; };
        (void)QTest::qWaitFor([&] { return !open() || m_boxes.calls().size() >= boxes + 2; }, 60000);
        return !open();
    }
    std::string clearBytes() const
    {
        const std::string path = m_folder + "/clear.bin";
        return std::filesystem::exists(path) ? readFile(path) : "";
    }
    static std::string pin() { return MailAccountStore().read(1).smtpCertPin; }
    static constexpr unsigned kQuestion = platform::MB_YESNO | platform::MB_ICONQUESTION | platform::MB_DEFBUTTON2;

    ProfileSandbox m_settings;
    platform::MessageBoxRecorder m_boxes;
    TempDir m_mailDir{"orvalink-mail"};
    TempDir m_files{"orvalink-smtp-cert"};
    orvalink::testing::TestCertificate m_ca;
    std::unique_ptr<ScopedEnv> m_trust;
    std::unique_ptr<SmtpSink> m_server;
    std::string m_folder;
    int m_servers = 0;
    CSendFrame* m_window = nullptr;
};

TEST_F(ComposeCertificate, RefusedCertificateAsksAndNoSendsNothing)
{
    struct Case {
        const char* what;
        orvalink::testing::TestCertificate certificate;
        std::string_view reason;
        const char* mode;
        TransportSecurity security;
    };
    const Case cases[] = {
        {"another name, STARTTLS", orvalink::testing::makeCertificate({.name = "other.example.test"}, &m_ca),
         tlstexts::kHostMismatch, "starttls", TransportSecurity::StartTls},
        {"self-signed, implicit TLS", orvalink::testing::makeCertificate({.name = "127.0.0.1"}), tlstexts::kSelfSigned,
         "implicit", TransportSecurity::Implicit},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(serve(c.certificate, c.mode)) << m_server->failure();
        account(c.security);
        m_boxes.pushAnswer(platform::IDNO);
        const std::size_t before = m_boxes.calls().size();
        EXPECT_FALSE(send(c.what));
        ASSERT_EQ(m_boxes.calls().size(), before + 2);
        const platform::MessageBoxCall question = m_boxes.calls()[before];
        EXPECT_EQ(question.type, kQuestion);
        EXPECT_NE(question.text.find(c.reason), std::string::npos) << question.text;
        EXPECT_NE(question.text.find("127.0.0.1"), std::string::npos);
        EXPECT_NE(question.text.find("SHA-256: "), std::string::npos);
        // No: the refusal is shown as before, and the window keeps its texts.
        const std::string refusal = m_boxes.calls()[before + 1].text;
        EXPECT_NE(refusal.find(texts::kSmtpTlsFailed), std::string::npos) << refusal;
        EXPECT_NE(refusal.find(c.reason), std::string::npos) << refusal;
        EXPECT_EQ(CSendHeaderBar::text(m_window->headerBar()->subjectBox()), c.what);
        EXPECT_EQ(m_server->mailCount(), 0u);
        EXPECT_EQ(pin(), "");
        EXPECT_EQ(clearBytes().find("AUTH"), std::string::npos) << clearBytes();
        delete m_window;
    }
}

TEST_F(ComposeCertificate, SelfSignedTrustedThroughTheQuestionThenAcceptedAndANewOneAsksAgain)
{
    ASSERT_TRUE(serve(orvalink::testing::makeCertificate({.name = "127.0.0.1"}), "starttls")) << m_server->failure();
    account(TransportSecurity::StartTls);
    m_boxes.pushAnswer(platform::IDYES);
    EXPECT_TRUE(send("first"));
    ASSERT_EQ(m_boxes.calls().size(), 1u);
    EXPECT_EQ(m_boxes.calls()[0].type, kQuestion);
    const std::string pinned = pin();
    ASSERT_EQ(pinned.size(), 64u);
    EXPECT_NE(m_boxes.calls()[0].text.find(pinned.substr(0, 2) + ":" + pinned.substr(2, 2)), std::string::npos);
    EXPECT_EQ(MailAccountStore().read(1).popCertPin, "");
    ASSERT_TRUE(m_server->waitForMails(1));
    EXPECT_EQ(clearBytes().find("AUTH"), std::string::npos) << clearBytes();

    // The same certificate again: no question.
    EXPECT_TRUE(send("second"));
    EXPECT_EQ(m_boxes.calls().size(), 1u);
    ASSERT_TRUE(m_server->waitForMails(2));

    // Another certificate: asked again, saying it changed; No keeps the old pin and sends nothing.
    ASSERT_TRUE(serve(orvalink::testing::makeCertificate({.name = "127.0.0.1"}), "starttls")) << m_server->failure();
    m_boxes.pushAnswer(platform::IDNO);
    EXPECT_FALSE(send("third"));
    ASSERT_EQ(m_boxes.calls().size(), 3u);
    EXPECT_NE(m_boxes.calls()[1].text.find(tlstexts::kPinChanged), std::string::npos) << m_boxes.calls()[1].text;
    EXPECT_EQ(pin(), pinned);
    EXPECT_EQ(m_server->mailCount(), 0u);
}

} // namespace

} // namespace orvalink::mail
