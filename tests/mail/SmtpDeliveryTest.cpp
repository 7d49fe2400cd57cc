// Mail sent by the conversation over real sockets to a real server (aiosmtpd in this test's own
// network namespace), read back from what the server stored, byte for byte.
#include "mail/engine/SmtpConversation.h"
#include "support/Iconv.h"
#include "support/PrivateNetwork.h"
#include "support/ScriptedSmtpServer.h"
#include "support/SmtpDriver.h"
#include "support/SmtpSink.h"
#include "support/TestFiles.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>

namespace orvalink::mail {

using orvalink::test::SmtpSink;
using orvalink::test::TempDir;

namespace {

using test::iconvBytes;
using test::sj;

std::string base64Decode(std::string_view text)
{
    std::string out;
    unsigned value = 0;
    int bits = 0;
    for (char c : text) {
        const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        const char* at = c ? std::strchr(alphabet, c) : nullptr;
        if (at == nullptr)
            continue;
        value = value << 6 | static_cast<unsigned>(at - alphabet);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((value >> bits) & 0xFF);
        }
    }
    return out;
}

SmtpRequest request(std::string subject, std::string body)
{
    SmtpRequest r;
    MailAccount account;
    account.serverName = "local";
    account.smtpServer = "127.0.0.1";
    account.smtpPort = "25";
    account.emailAddress = "taro@example.jp";
    r.account = account;
    r.to = "hanako@example.com";
    r.subject = std::move(subject);
    r.body = std::move(body);
    r.localHostName = "desk7.example.jp";
    r.time = {1796723700, 540};
    r.messageId = "<20261208.1@desk7.example.jp>";
    return r;
}

const std::string kHeaderTail = "X-Mailer: QelMail2000 Version 1.0\r\n"
                                "MIME-Version: 1.0\r\n"
                                "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
                                "Content-Transfer-Encoding: 7bit\r\n"
                                "From: taro@example.jp\r\n"
                                "Date: Tue, 08 Dec 2026 18:55:00 +0900\r\n"
                                "Message-ID: <20261208.1@desk7.example.jp>\r\n"
                                "\r\n";

class SmtpDelivery : public ::testing::Test {
protected:
    void SetUp() override
    {
        ORVALINK_REQUIRE_PRIVATE_NETWORK();
        m_sink = std::make_unique<SmtpSink>(m_dir.path());
        ASSERT_TRUE(m_sink->ready()) << m_sink->failure();
    }

    TempDir m_dir{"smtp-sink"};
    std::unique_ptr<SmtpSink> m_sink;
};

TEST_F(SmtpDelivery, JapaneseMailArrivesWhole)
{
    const std::string typedUtf8 = "本日の会議は１０時からです。\r\n"
                                  "ひらがな、カタカナ、ﾊﾝｶｸｶﾀｶﾅ ｶﾞｷﾞｸﾞ ﾊﾟﾋﾟ\r\n"
                                  "ASCII run: Hello, World! 123 <a@b>\r\n"
                                  ".\r\n"
                                  "..two dots\r\n"
                                  "混在 mixed テキスト end\r\n"
                                  "\r\n"
                                  "最後の行";
    const std::string expectedUtf8 = "本日の会議は１０時からです。\r\n"
                                     "ひらがな、カタカナ、ハンカクカタカナ ガギグ パピ\r\n"
                                     "ASCII run: Hello, World! 123 <a@b>\r\n"
                                     ".\r\n"
                                     "..two dots\r\n"
                                     "混在 mixed テキスト end\r\n"
                                     "\r\n"
                                     "最後の行";
    const std::string subjectUtf8 = "会議のお知らせ（第３回）と資料について：ご確認ください";

    SmtpConversation conversation;
    const auto run = orvalink::test::runSmtp(conversation, request(sj(subjectUtf8), sj(typedUtf8)));
    EXPECT_TRUE(run.finished) << run.messages;
    EXPECT_EQ(run.messages, "");
    ASSERT_TRUE(m_sink->waitForMails(1));
    const auto mails = m_sink->mails();
    ASSERT_EQ(mails.size(), 1u);
    const auto& mail = mails[0];
    EXPECT_EQ(mail.helo, "desk7.example.jp");
    EXPECT_EQ(mail.mailFrom, "taro@example.jp");
    ASSERT_EQ(mail.rcptTo, std::vector<std::string>{"hanako@example.com"});

    // The bytes the server keeps are ours without the dot-stuffing and the final dot.
    std::string unstuffed = conversation.mailText();
    unstuffed.resize(unstuffed.size() - 3);
    for (std::size_t at = 0; (at = unstuffed.find("\r\n..", at)) != std::string::npos; at += 3)
        unstuffed.erase(at + 2, 1);
    EXPECT_EQ(mail.content, unstuffed);

    // Subject lines first, folded, then the other lines exactly.
    const std::size_t toAt = mail.content.find("\r\nTo: ");
    ASSERT_NE(toAt, std::string::npos);
    const std::string subject = mail.content.substr(0, toAt);
    ASSERT_TRUE(subject.starts_with("Subject: =?ISO-2022-JP?B?"));
    std::string decodedSubject;
    std::size_t lineStart = 0;
    for (std::size_t word = 0; (word = subject.find("=?ISO-2022-JP?B?", word)) != std::string::npos;) {
        const std::size_t end = subject.find("?=", word + 16);
        ASSERT_NE(end, std::string::npos);
        decodedSubject +=
            iconvBytes("UTF-8", "ISO-2022-JP", base64Decode(subject.substr(word + 16, end - word - 16))).value_or("?");
        word = end + 2;
    }
    for (std::size_t end; (end = subject.find("\r\n", lineStart)) != std::string::npos; lineStart = end + 2)
        EXPECT_LE(end - lineStart, 76u);
    EXPECT_LE(subject.size() - lineStart, 76u);
    EXPECT_EQ(decodedSubject, subjectUtf8);

    const std::string rest = mail.content.substr(toAt + 2);
    const std::string header = "To: hanako@example.com\r\n" + kHeaderTail;
    ASSERT_TRUE(rest.starts_with(header)) << rest.substr(0, 400);
    const std::string body = rest.substr(header.size());
    for (char c : body)
        ASSERT_LT(static_cast<unsigned char>(c), 0x80);
    EXPECT_EQ(iconvBytes("UTF-8", "ISO-2022-JP", body), expectedUtf8 + "\r\n");
}

TEST_F(SmtpDelivery, EmptyBodyAndAsciiSubject)
{
    SmtpConversation conversation;
    const auto run = orvalink::test::runSmtp(conversation, request("Plain subject", ""));
    EXPECT_TRUE(run.finished) << run.messages;
    ASSERT_TRUE(m_sink->waitForMails(1));
    const auto mails = m_sink->mails();
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].content, "Subject: Plain subject\r\nTo: hanako@example.com\r\n" + kHeaderTail + "\r\n");
}

TEST_F(SmtpDelivery, MailsOneAfterAnother)
{
    for (int i = 0; i < 3; ++i) {
        SmtpConversation conversation;
        EXPECT_TRUE(orvalink::test::runSmtp(conversation, request("n" + std::to_string(i), sj("本文"))).finished);
    }
    ASSERT_TRUE(m_sink->waitForMails(3));
    const auto mails = m_sink->mails();
    ASSERT_EQ(mails.size(), 3u);
    EXPECT_TRUE(mails[2].content.starts_with("Subject: n2\r\n"));
}

TEST_F(SmtpDelivery, NobodyListeningIsReported)
{
    SmtpRequest r = request("x", "y");
    r.account->smtpPort = "26";
    SmtpConversation conversation;
    const auto run = orvalink::test::runSmtp(conversation, r);
    EXPECT_FALSE(run.finished);
    EXPECT_EQ(run.messages, std::string(kErrorConnectFailed) + "Connection refused\r\n");
    EXPECT_FALSE(conversation.running());
}

// The faults a real server does not make, from a scripted server over real sockets: the engine and
// the few lines of socket glue together.
namespace scripted {

using orvalink::test::ScriptedSmtpServer;

struct ScriptedCase {
    const char* name;
    std::vector<ScriptedSmtpServer::Step> script;
    bool finished;
    std::string messages;
    std::string lastCommand; // what the client wrote last
};

void PrintTo(const ScriptedCase& c, std::ostream* os)
{
    *os << c.name;
}

class ScriptedServer : public ::testing::TestWithParam<ScriptedCase> {};

TEST_P(ScriptedServer, EndsAsTheServerMakesIt)
{
    ORVALINK_REQUIRE_PRIVATE_NETWORK();
    const ScriptedCase& c = GetParam();
    ScriptedSmtpServer server(c.script, 2525);
    ASSERT_TRUE(server.ready());
    SmtpRequest r = request("x", "body\r\n");
    r.account->smtpPort = "2525";
    SmtpConversation conversation;
    // A short silence stands for the program's 60 s; only the silent case waits for it.
    const auto run = orvalink::test::runSmtp(conversation, r, 300);
    EXPECT_EQ(run.finished, c.finished);
    EXPECT_EQ(run.messages, c.messages);
    EXPECT_FALSE(conversation.running());
    ASSERT_TRUE(orvalink::test::waitUntil([&] { return server.finishedSessions() == 1; }, 30000));
    const auto received = server.received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_TRUE(received[0].ends_with(c.lastCommand)) << received[0];
}

const std::vector<std::string> kOneGreeting = {"220 mx\r\n"};
const std::vector<std::string> kAccepting = {"250 hi\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n", "250 ok\r\n"};

INSTANTIATE_TEST_SUITE_P(
    Smtp, ScriptedServer,
    ::testing::Values(
        ScriptedCase{"MultiLineGreetingInSeparateWrites",
                     ScriptedSmtpServer::lockstep({"220-mx\r\n", "220-still mx\r\n", "220 mx ready\r\n"}, kAccepting),
                     true, "", "QUIT\r\n"},
        ScriptedCase{"RecipientForwarded",
                     ScriptedSmtpServer::lockstep(kOneGreeting, {"250 hi\r\n", "250 ok\r\n", "251 will forward\r\n",
                                                                 "354 go\r\n", "250 ok\r\n"}),
                     true, "", "QUIT\r\n"},
        ScriptedCase{"RecipientRejected",
                     ScriptedSmtpServer::lockstep(kOneGreeting, {"250 hi\r\n", "250 ok\r\n", "550 5.1.1 unknown\r\n"}),
                     false, std::string(kErrorRecipientRejected) + "550 5.1.1 unknown\r\n", "QUIT\r\n"},
        ScriptedCase{"NeverGreets", {ScriptedSmtpServer::silence()}, false, std::string(kErrorTimeout), "QUIT\r\n"},
        ScriptedCase{"SilentAfterTheMessage",
                     ScriptedSmtpServer::lockstep(kOneGreeting,
                                                  {"250 hi\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n"},
                                                  ScriptedSmtpServer::silence()),
                     false, std::string(kErrorTimeout), "body\r\n\r\n.\r\nQUIT\r\n"},
        ScriptedCase{
            "DroppedDuringData",
            ScriptedSmtpServer::lockstep(kOneGreeting, {"250 hi\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n"}), false,
            std::string(kErrorConnectionLost), ""}),
    [](const ::testing::TestParamInfo<ScriptedCase>& p) { return std::string(p.param.name); });

} // namespace scripted

} // namespace

} // namespace orvalink::mail
