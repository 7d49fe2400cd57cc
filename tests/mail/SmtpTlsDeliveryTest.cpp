// The compose window's send worker over its real connection glue to aiosmtpd with STARTTLS, implicit
// TLS and AUTH, in this test's own network namespace. The certificates are made here with the
// openssl command line, and OpenSSL is pointed at the test's CA. The server writes down every byte
// it received before TLS, and no password may be among them unless clear-text AUTH was allowed.
// The compose window asks about a certificate it cannot trust, as the receive window does.
#include "mail/CSendFrame.h"
#include "mail/CSendHeaderBar.h"
#include "mail/CSendThread.h"
#include "mail/CSendWorker.h"
#include "mail/ComposeThreadTable.h"
#include "mail/ComposeWindows.h"
#include "mail/MailState.h"
#include "mail/MailTestSupport.h"
#include "mail/SendSettings.h"
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
    const SendSettings settings;
    CSendWorker worker(settings);
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

// The compose window asks about a certificate it cannot trust, as the receive window does: account 1
// sends with STARTTLS and AUTH to aiosmtpd serving certificates made here; the recorder answers.
TEST(ComposeCertificate, RefusedAsksNoSendsNothingYesPinsAndSendsAChangedOneAsksAgain)
{
    ORVALINK_REQUIRE_PRIVATE_NETWORK();
    using orvalink::testing::makeCertificate;
    ProfileSandbox settings;
    platform::MessageBoxRecorder boxes;
    TempDir mailDir{"orvalink-mail"}, files{"orvalink-smtp-cert"};
    MailState side;
    side.directory().set(mailDir.path());
    struct Cleanup {
        MailState& side;
        ~Cleanup()
        {
            for (CSendThread* t : side.composeThreads().threads)
                if (t && t->frame())
                    delete t->frame();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    } cleanup{side};
    const auto ca = makeCertificate({.name = "Orvalink Test CA", .ca = true});
    writeFile(files.file("ca.pem"), ca.certificatePem);
    ScopedEnv trust("SSL_CERT_FILE", files.file("ca.pem"));
    storeAccounts({"first"}, 1);
    MailAccount account = MailAccountStore().read(1);
    account.smtpServer = "127.0.0.1";
    account.smtpPort = "2525";
    account.smtpSecurity = storedSecurity(TransportSecurity::StartTls);
    account.smtpAuth = "1";
    account.smtpUser = kUser;
    account.smtpPassword = kPassword;
    MailAccountStore().write(1, account);

    std::unique_ptr<SmtpSink> server;
    std::string folder;
    int servers = 0;
    const auto serve = [&](const orvalink::testing::TestCertificate& certificate) {
        server.reset();
        folder = files.file("server" + std::to_string(++servers));
        std::filesystem::create_directories(folder);
        writeFile(folder + "/server.pem", certificate.certificatePem + certificate.keyPem);
        writeFile(folder + "/server.json", "{\"mode\": \"starttls\", \"cert\": \"" + folder +
                                               "/server.pem\", \"key\": \"" + folder + "/server.pem\", \"user\": \"" +
                                               kUser + "\", \"password\": \"" + kPassword + "\"}");
        const char* source = std::getenv("ORVALINK_SOURCE_DIR");
        server = std::make_unique<SmtpSink>(folder, 2525, "0.0.0.0",
                                            std::string(source ? source : ".") + "/tests/mail/smtp_tls_server.py");
        return server->ready();
    };
    // True when the mail went and the window closed; false once the question and the refusal
    // were shown (the window then still open with its texts).
    const auto send = [&](const std::string& subject) {
        CSendFrame* window = OpenComposeWindow(side, "hanako@example.com", subject)->frame();
        const int slot = window->thread()->windowSlot();
        const std::size_t before = boxes.calls().size();
        window->onCommand(res::kCmdComposeSend);
        const auto open = [&side, slot] {
            return side.composeThreads().threads[static_cast<std::size_t>(slot)] != nullptr;
        };
        (void)QTest::qWaitFor([&] { return !open() || boxes.calls().size() >= before + 2; }, 60000);
        if (!open())
            return true;
        EXPECT_EQ(CSendHeaderBar::text(window->headerBar()->subjectBox()), subject);
        delete window;
        return false;
    };
    const auto pin = [] { return MailAccountStore().read(1).smtpCertPin; };
    const auto box = [&](std::size_t i) { return boxes.calls().at(i).text; };

    // Another name: the question says why; No shows the refusal and sends nothing, AUTH included.
    ASSERT_TRUE(serve(makeCertificate({.name = "other.example.test"}, &ca))) << server->failure();
    boxes.pushAnswer(platform::IDNO);
    EXPECT_FALSE(send("refused"));
    ASSERT_EQ(boxes.calls().size(), 2u);
    EXPECT_EQ(boxes.calls()[0].type, platform::MB_YESNO | platform::MB_ICONQUESTION | platform::MB_DEFBUTTON2);
    for (const std::string_view part :
         {tlstexts::kHostMismatch, std::string_view("127.0.0.1"), std::string_view("SHA-256: ")})
        EXPECT_NE(box(0).find(part), std::string::npos) << box(0);
    EXPECT_NE(box(1).find(texts::kSmtpTlsFailed), std::string::npos) << box(1);
    EXPECT_EQ(server->mailCount(), 0u);
    EXPECT_EQ(pin(), "");
    EXPECT_EQ(readFile(folder + "/clear.bin").find("AUTH"), std::string::npos);

    // Self-signed: Yes pins it for sending and the mail goes; the same certificate is not asked about.
    ASSERT_TRUE(serve(makeCertificate({.name = "127.0.0.1"}))) << server->failure();
    boxes.pushAnswer(platform::IDYES);
    EXPECT_TRUE(send("trusted"));
    ASSERT_EQ(boxes.calls().size(), 3u);
    EXPECT_NE(box(2).find(tlstexts::kSelfSigned), std::string::npos) << box(2);
    const std::string pinned = pin();
    ASSERT_EQ(pinned.size(), 64u);
    EXPECT_EQ(MailAccountStore().read(1).popCertPin, "");
    EXPECT_TRUE(send("again"));
    EXPECT_EQ(boxes.calls().size(), 3u);
    EXPECT_TRUE(server->waitForMails(2));

    // A new certificate: asked again, saying it changed; No keeps the pin and sends nothing.
    ASSERT_TRUE(serve(makeCertificate({.name = "127.0.0.1"}))) << server->failure();
    boxes.pushAnswer(platform::IDNO);
    EXPECT_FALSE(send("changed"));
    ASSERT_EQ(boxes.calls().size(), 5u);
    EXPECT_NE(box(3).find(tlstexts::kPinChanged), std::string::npos) << box(3);
    EXPECT_EQ(pin(), pinned);
    EXPECT_EQ(server->mailCount(), 0u);
}

} // namespace

} // namespace orvalink::mail
