// The extended SMTP conversation (EHLO, STARTTLS, AUTH) as byte scripts. A script's "|TLS|" is
// where the glue's handshake succeeds and it calls tlsEstablished(); every segment is fed whole
// and split at every position.
#include "mail/engine/SmtpConversation.h"
#include "mail/engine/SmtpTexts.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace orvalink::mail {

namespace {

struct Security {
    const char* security = ""; // "SMTP Security": "" none, "1" STARTTLS, "2" implicit
    const char* auth = "";
    const char* plainAuth = "";
    const char* user = "user"; // "SMTP User" ("" = the POP3 account "pop")
    const char* password = "secret";
};

SmtpRequest request(const Security& s)
{
    SmtpRequest r;
    MailAccount account;
    account.serverName = "office";
    account.smtpServer = "mail.example.jp";
    account.emailAddress = "me@example.jp";
    account.popAccount = "pop";
    account.popPassword = "poppw";
    account.smtpSecurity = s.security;
    account.smtpAuth = s.auth;
    account.plainAuth = s.plainAuth;
    account.smtpUser = s.user;
    account.smtpPassword = s.password;
    r.account = account;
    r.to = "you@example.com";
    r.subject = "Hello";
    r.body = "body";
    r.localHostName = "desk7.example.jp";
    r.time = {1796723700, 540};
    r.messageId = "<1@desk7.example.jp>";
    return r;
}

struct Outcome {
    std::string sent;
    std::string sentInClear; // what went out before TLS protected the connection
    std::string message;
    bool finished = false;
    bool release = false;
    int handshakes = 0;
    bool operator==(const Outcome&) const = default;
};

// Feeds the segments; `cutSegment`/`cut` split one of them in two (cut npos: none split).
Outcome run(const Security& s, const std::vector<std::string>& segments, std::size_t cutSegment = std::string::npos,
            std::size_t cut = 0)
{
    SmtpConversation c;
    const SmtpStart start = c.start(request(s));
    EXPECT_TRUE(start.connect);
    Outcome r;
    bool secure = start.security == TransportSecurity::Implicit;
    bool handshakeAsked = false;
    auto take = [&](const SmtpStep& step) {
        r.sent += step.send;
        if (!secure)
            r.sentInClear += step.send;
        r.message += step.message;
        r.finished = r.finished || step.finished;
        r.release = r.release || step.release;
        handshakeAsked = handshakeAsked || step.startTls;
    };
    for (std::size_t i = 0; i < segments.size(); ++i) {
        if (i > 0) {
            if (!handshakeAsked)
                break;
            handshakeAsked = false;
            secure = true;
            ++r.handshakes;
            take(c.tlsEstablished());
        }
        const std::string& seg = segments[i];
        if (i == cutSegment) {
            take(c.feed(seg.substr(0, cut)));
            take(c.feed(seg.substr(cut)));
        } else {
            take(c.feed(seg));
        }
    }
    return r;
}

std::vector<std::string> segmentsOf(const std::string& script)
{
    std::vector<std::string> out;
    std::size_t at = 0;
    for (std::size_t mark; (mark = script.find("|TLS|", at)) != std::string::npos; at = mark + 5)
        out.push_back(script.substr(at, mark - at));
    out.push_back(script.substr(at));
    return out;
}

const std::string kEhlo = "EHLO desk7.example.jp\r\n";
const std::string kTailReplies = "250 ok\r\n250 ok\r\n354 go\r\n250 queued\r\n";
// "<tail>" in an expected text: MAIL FROM up to QUIT after the accepted mail.
const std::string kTail = "<tail>";

std::string withTail(std::string expected, const std::string& mailText)
{
    const std::size_t at = expected.find(kTail);
    if (at != std::string::npos)
        expected.replace(at, kTail.size(),
                         "MAIL FROM:<me@example.jp>\r\nRCPT TO:<you@example.com>\r\nDATA\r\n" + mailText + "QUIT\r\n");
    return expected;
}

std::string reply(std::string_view text, std::string_view line)
{
    return std::string(text) + "\r\n" + std::string(texts::kServerReply) + std::string(line) + "\r\n";
}

struct SecureCase {
    const char* name;
    Security security;
    std::string script;
    std::string sent;
    std::string message; // empty: the mail is accepted
};

void PrintTo(const SecureCase& c, std::ostream* os)
{
    *os << c.name;
}

const Security kStartTls{"1"};
const Security kStartTlsAuth{"1", "1"};
const Security kImplicit{"2"};
const Security kImplicitAuth{"2", "1"};

class SecureScripts : public ::testing::TestWithParam<SecureCase> {};

TEST_P(SecureScripts, SendWhatTheScriptAsksWhateverTheSplit)
{
    const SecureCase& c = GetParam();
    const std::vector<std::string> segments = segmentsOf(c.script);
    SmtpConversation probe;
    probe.start(request(c.security));
    const Outcome whole = run(c.security, segments);
    EXPECT_EQ(whole.sent, withTail(c.sent, probe.mailText()));
    EXPECT_EQ(whole.message, c.message);
    EXPECT_EQ(whole.finished, c.message.empty());
    EXPECT_TRUE(whole.release);
    EXPECT_EQ(whole.handshakes, static_cast<int>(segments.size()) - 1);
    // No password, nor its base64 forms, goes out in clear unless the account allows it.
    if (std::string_view(c.security.plainAuth) != "1") {
        for (const char* secret : {"secret", "c2VjcmV0", "AHVzZXIAc2VjcmV0", "poppw", "cG9wcHc=", "AHBvcABwb3Bwdw=="})
            EXPECT_EQ(whole.sentInClear.find(secret), std::string::npos) << secret;
    }

    for (std::size_t s = 0; s < segments.size(); ++s)
        for (std::size_t cut = 0; cut <= segments[s].size(); ++cut)
            ASSERT_EQ(run(c.security, segments, s, cut), whole) << "segment " << s << " split at " << cut;
}

INSTANTIATE_TEST_SUITE_P(
    Smtp, SecureScripts,
    ::testing::Values(
        SecureCase{"StartTls", kStartTls,
                   "220 mx\r\n250-mx\r\n250-SIZE 1000\r\n250 STARTTLS\r\n220 go ahead\r\n|TLS|250-mx\r\n250 SIZE\r\n" +
                       kTailReplies,
                   kEhlo + "STARTTLS\r\n" + kEhlo + kTail, ""},
        SecureCase{"StartTlsAuthPlain", kStartTlsAuth,
                   "220 mx\r\n250-mx\r\n250-STARTTLS\r\n250 AUTH LOGIN PLAIN\r\n220 go\r\n|TLS|250-mx\r\n250-AUTH "
                   "LOGIN PLAIN\r\n250 8BITMIME\r\n235 ok\r\n" +
                       kTailReplies,
                   kEhlo + "STARTTLS\r\n" + kEhlo + "AUTH PLAIN AHVzZXIAc2VjcmV0\r\n" + kTail, ""},
        SecureCase{"StartTlsAuthLogin", kStartTlsAuth,
                   "220 mx\r\n250-mx\r\n250 STARTTLS\r\n220 go\r\n|TLS|250-mx\r\n250 AUTH LOGIN\r\n334 "
                   "VXNlcm5hbWU6\r\n334 UGFzc3dvcmQ6\r\n235 ok\r\n" +
                       kTailReplies,
                   kEhlo + "STARTTLS\r\n" + kEhlo + "AUTH LOGIN\r\ndXNlcg==\r\nc2VjcmV0\r\n" + kTail, ""},
        SecureCase{"ImplicitAuthTakesThePop3Login",
                   {"2", "1", "", "", ""},
                   "220 mx\r\n250-mx\r\n250 AUTH PLAIN\r\n235 ok\r\n" + kTailReplies,
                   kEhlo + "AUTH PLAIN AHBvcABwb3Bwdw==\r\n" + kTail,
                   ""},
        SecureCase{"ImplicitNeverStartsTlsAgain", kImplicit, "220 mx\r\n250-mx\r\n250 STARTTLS\r\n" + kTailReplies,
                   kEhlo + kTail, ""},
        SecureCase{"OldAuthEqualsFormAndLowerCase", kImplicitAuth,
                   "220 mx\r\n250-mx\r\n250-AUTH=LOGIN\r\n250 auth login\r\n334 a\r\n334 b\r\n235 ok\r\n" +
                       kTailReplies,
                   kEhlo + "AUTH LOGIN\r\ndXNlcg==\r\nc2VjcmV0\r\n" + kTail, ""},
        SecureCase{"ClearAuthWhenAllowed",
                   {"", "1", "1"},
                   "220 mx\r\n250-mx\r\n250 AUTH PLAIN\r\n235 ok\r\n" + kTailReplies,
                   kEhlo + "AUTH PLAIN AHVzZXIAc2VjcmV0\r\n" + kTail,
                   ""},
        SecureCase{"StartTlsNotOffered", kStartTlsAuth, "220 mx\r\n250-mx\r\n250 AUTH PLAIN\r\n", kEhlo + "QUIT\r\n",
                   std::string(texts::kSmtpNoStartTls) + "\r\n"},
        SecureCase{"EhloGreetingLineIsNoOffer", kStartTls, "220 mx\r\n250 STARTTLS\r\n", kEhlo + "QUIT\r\n",
                   std::string(texts::kSmtpNoStartTls) + "\r\n"},
        SecureCase{"StartTlsRefused", kStartTls, "220 mx\r\n250-mx\r\n250 STARTTLS\r\n454 TLS not available\r\n",
                   kEhlo + "STARTTLS\r\nQUIT\r\n", reply(texts::kSmtpStartTlsRefused, "454 TLS not available")},
        SecureCase{"EhloRefused", kStartTls, "220 mx\r\n502 no EHLO\r\n", kEhlo + "QUIT\r\n",
                   std::string(kErrorNotSmtpServer) + "502 no EHLO\r\n"},
        SecureCase{"AuthPlainRefused", kImplicitAuth,
                   "220 mx\r\n250-mx\r\n250 AUTH PLAIN\r\n535 5.7.8 bad\tcredentials\r\n",
                   kEhlo + "AUTH PLAIN AHVzZXIAc2VjcmV0\r\nQUIT\r\n",
                   reply(texts::kSmtpAuthRefused, "535 5.7.8 bad credentials")},
        SecureCase{"AuthLoginUserRefused", kImplicitAuth, "220 mx\r\n250-mx\r\n250 AUTH LOGIN\r\n504 no\r\n",
                   kEhlo + "AUTH LOGIN\r\nQUIT\r\n", reply(texts::kSmtpAuthRefused, "504 no")},
        SecureCase{"AuthLoginPasswordRefused", kImplicitAuth,
                   "220 mx\r\n250-mx\r\n250 AUTH LOGIN\r\n334 a\r\n334 b\r\n535 wrong\r\n",
                   kEhlo + "AUTH LOGIN\r\ndXNlcg==\r\nc2VjcmV0\r\nQUIT\r\n",
                   reply(texts::kSmtpAuthRefused, "535 wrong")},
        SecureCase{"NoMechanismOffered", kImplicitAuth, "220 mx\r\n250-mx\r\n250 AUTH CRAM-MD5 XOAUTH2\r\n",
                   kEhlo + "QUIT\r\n", std::string(texts::kSmtpNoAuthMechanism) + "\r\n"},
        // What the server offered in clear does not count after the handshake.
        SecureCase{"OffersBeforeTlsAreForgotten", kStartTlsAuth,
                   "220 mx\r\n250-mx\r\n250-AUTH PLAIN\r\n250 STARTTLS\r\n220 go\r\n|TLS|250 mx\r\n",
                   kEhlo + "STARTTLS\r\n" + kEhlo + "QUIT\r\n", std::string(texts::kSmtpNoAuthMechanism) + "\r\n"},
        // Replies an attacker appended to the "220" in clear are dropped, not taken as the reply to
        // the EHLO over TLS.
        SecureCase{"ClearBytesAfterStartTlsAreDropped", kStartTlsAuth,
                   "220 mx\r\n250-mx\r\n250 STARTTLS\r\n220 go\r\n250-x\r\n250 AUTH PLAIN\r\n|TLS|250-mx\r\n250 AUTH "
                   "LOGIN\r\n334 a\r\n334 b\r\n235 ok\r\n" +
                       kTailReplies,
                   kEhlo + "STARTTLS\r\n" + kEhlo + "AUTH LOGIN\r\ndXNlcg==\r\nc2VjcmV0\r\n" + kTail, ""}),
    [](const ::testing::TestParamInfo<SecureCase>& p) { return std::string(p.param.name); });

// An account that never chose a security nor AUTH talks the plain conversation, whatever else the
// "暗号" keys hold.
TEST(SmtpSecure, WithoutSecurityAndAuthTheConversationIsThePlainOne)
{
    for (const Security& s : {Security{}, Security{"", "", "1"}, Security{"0", "0", "1"}, Security{"x", "yes"}}) {
        SmtpConversation c;
        const SmtpStart start = c.start(request(s));
        EXPECT_EQ(start.security, TransportSecurity::None);
        EXPECT_EQ(c.feed("220 mx\r\n").send, "HELO desk7.example.jp\r\n") << s.security << '/' << s.auth;
        EXPECT_EQ(c.feed("250 hi\r\n").send, "MAIL FROM:<me@example.jp>\r\n");
    }
}

TEST(SmtpSecure, AnEmptyPortIsTheUsualPortOfTheSecurity)
{
    const struct {
        const char* security;
        const char* port;
        std::uint16_t connects;
    } cases[] = {{"", "", 25},      {"", " ", 25},       {"1", "", 587},  {"2", "", 465},
                 {"2", " \t", 465}, {"2", "2525", 2525}, {"1", "25", 25}, {"2", "25", 25}};
    for (const auto& c : cases) {
        SmtpRequest r = request({c.security});
        r.account->smtpPort = c.port;
        SmtpConversation conversation;
        EXPECT_EQ(SmtpConversation::refusal(r), "") << c.security << "/" << c.port;
        EXPECT_EQ(conversation.start(r).port, c.connects) << c.security << "/" << c.port;
    }
}

TEST(SmtpSecure, ClearAuthIsRefusedBeforeConnecting)
{
    SmtpConversation c;
    const SmtpStart s = c.start(request({"", "1"}));
    EXPECT_FALSE(s.connect);
    EXPECT_EQ(s.message, std::string(texts::kSmtpClearAuthRefused) + "\r\n");
    EXPECT_FALSE(c.running());
    EXPECT_EQ(SmtpConversation::refusal(request({"", "1"})), s.message);
    EXPECT_TRUE(SmtpConversation::refusal(request({"", "1", "1"})).empty());
    EXPECT_TRUE(SmtpConversation::refusal(request({"1", "1"})).empty());
    EXPECT_EQ(c.start(request({"2"})).security, TransportSecurity::Implicit);
    EXPECT_EQ(SmtpConversation().start(request({"1"})).security, TransportSecurity::StartTls);
}

struct HandshakeEnding {
    const char* name;
    int call; // 0 timedOut, 1 connectionClosed, 2 tlsFailed, 3 abort
    std::string message;
};

// While the handshake runs nothing is written in clear, and its failure has its own text.
TEST(SmtpSecure, EndingsDuringTheHandshake)
{
    const std::string tlsFailed = std::string(texts::kSmtpTlsFailed) + "\r\n";
    for (const HandshakeEnding& e :
         {HandshakeEnding{"timeout", 0, std::string(kErrorTimeout)},
          HandshakeEnding{"closed", 1, tlsFailed + "ERROR: The connection to the SMTP server was lost\r\n"},
          HandshakeEnding{"failed", 2, tlsFailed + "certificate verify failed\r\n"},
          HandshakeEnding{"window closed", 3, ""}}) {
        SmtpConversation c;
        c.start(request(kStartTls));
        const SmtpStep asked = c.feed("220 mx\r\n250-mx\r\n250 STARTTLS\r\n220 go\r\n");
        ASSERT_TRUE(asked.startTls);
        ASSERT_EQ(c.state(), SmtpState::WaitHandshake);
        EXPECT_EQ(c.feed("250 anything\r\n"), SmtpStep{}) << e.name;
        SmtpStep step;
        switch (e.call) {
        case 0:
            step = c.timedOut();
            break;
        case 1:
            step = c.connectionClosed();
            break;
        case 2:
            step = c.tlsFailed("certificate\r\nverify failed");
            break;
        default:
            step = c.abort();
            break;
        }
        EXPECT_EQ(step.send, "") << e.name;
        EXPECT_TRUE(step.release) << e.name;
        EXPECT_EQ(step.message, e.call == 2 ? tlsFailed + "certificate  verify failed\r\n" : e.message) << e.name;
        EXPECT_FALSE(c.running());
        EXPECT_EQ(c.tlsEstablished(), SmtpStep{});
    }
}

TEST(SmtpSecure, HandshakeNewsOutsideTheHandshakeIsIgnored)
{
    SmtpConversation c;
    EXPECT_EQ(c.tlsFailed("x"), SmtpStep{});
    c.start(request(kStartTls));
    EXPECT_EQ(c.tlsEstablished(), SmtpStep{});
    EXPECT_EQ(c.state(), SmtpState::WaitGreeting);
    // An implicit connection whose handshake fails says so.
    SmtpConversation implicit;
    implicit.start(request(kImplicit));
    EXPECT_EQ(implicit.tlsFailed().message, std::string(texts::kSmtpTlsFailed) + "\r\n");
}

} // namespace

} // namespace orvalink::mail
