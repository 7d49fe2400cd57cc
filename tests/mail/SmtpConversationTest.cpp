// The SMTP conversation as byte scripts: what the server says, whole and split at every position,
// against what the engine sends and shows.
#include "mail/engine/SmtpConversation.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace orvalink::mail {

namespace {

SmtpRequest request()
{
    SmtpRequest r;
    MailAccount account;
    account.serverName = "office";
    account.smtpServer = "mail.example.jp";
    account.smtpPort = "25";
    account.emailAddress = "me@example.jp";
    r.account = account;
    r.to = "you@example.com";
    r.subject = "Hello";
    r.body = "line 1\r\n.\r\nline 3";
    r.localHostName = "desk7.example.jp";
    r.time = {1796723700, 540};
    r.messageId = "<1@desk7.example.jp>";
    return r;
}

struct Outcome {
    SmtpStep all; // every step's output, in order
    SmtpState state = SmtpState::None;
    std::string mailText;
};

Outcome runScript(const std::vector<std::string>& chunks, const SmtpRequest& r = request())
{
    SmtpConversation conversation;
    const SmtpStart start = conversation.start(r);
    EXPECT_TRUE(start.connect);
    Outcome outcome;
    for (const std::string& chunk : chunks) {
        const SmtpStep step = conversation.feed(chunk);
        outcome.all.send += step.send;
        outcome.all.message += step.message;
        outcome.all.release = outcome.all.release || step.release;
        outcome.all.finished = outcome.all.finished || step.finished;
    }
    outcome.state = conversation.state();
    outcome.mailText = conversation.mailText();
    return outcome;
}

std::string commandsUpTo(int lastState, const std::string& mailText)
{
    const std::vector<std::string> commands = {"HELO desk7.example.jp\r\n", "MAIL FROM:<me@example.jp>\r\n",
                                               "RCPT TO:<you@example.com>\r\n", "DATA\r\n", mailText};
    std::string sent;
    for (int i = 0; i < lastState - 1; ++i)
        sent += commands[static_cast<std::size_t>(i)];
    return sent;
}

struct ScriptCase {
    const char* name;
    std::string script;
    // The state whose reply decides the end, and the error text (empty: the mail is accepted).
    int decidingState;
    std::string_view error;
    std::string serverLine;
};

void PrintTo(const ScriptCase& c, std::ostream* os)
{
    *os << c.name;
}

const std::string kGood =
    "220 mx ready\r\n250 hello\r\n250 sender ok\r\n250 recipient ok\r\n354 go on\r\n250 queued\r\n";

class Scripts : public ::testing::TestWithParam<ScriptCase> {};

// The same outcome whether the script comes whole, split once at any position, or a byte a read.
TEST_P(Scripts, OutcomeDoesNotDependOnHowTheReadsSplit)
{
    const ScriptCase& c = GetParam();
    const Outcome whole = runScript({c.script});
    const bool accepted = c.error.empty();
    const std::string expectedSent = commandsUpTo(c.decidingState, whole.mailText) + "QUIT\r\n";
    EXPECT_EQ(whole.all.send, expectedSent);
    EXPECT_EQ(whole.all.finished, accepted);
    EXPECT_TRUE(whole.all.release);
    EXPECT_EQ(whole.all.message, accepted ? std::string() : std::string(c.error) + c.serverLine + "\r\n");
    EXPECT_EQ(whole.state, SmtpState::None);

    for (std::size_t cut = 0; cut <= c.script.size(); ++cut) {
        const Outcome split = runScript({c.script.substr(0, cut), c.script.substr(cut)});
        ASSERT_EQ(split.all, whole.all) << "split at " << cut;
    }
    std::vector<std::string> bytes;
    for (char ch : c.script)
        bytes.emplace_back(1, ch);
    EXPECT_EQ(runScript(bytes).all, whole.all);
}

INSTANTIATE_TEST_SUITE_P(
    Smtp, Scripts,
    ::testing::Values(
        ScriptCase{"Accepted", kGood, 6, {}, ""},
        ScriptCase{"MultiLineGreeting",
                   "220-mx.example.jp ESMTP\r\n220-no spam\r\n220 ready\r\n250 hello\r\n250 ok\r\n250 ok\r\n354 "
                   "go\r\n250 ok\r\n",
                   6,
                   {},
                   ""},
        ScriptCase{
            "MultiLineReplyToHelo",
            "220 mx\r\n250-mx greets you\r\n250-SIZE 100\r\n250 8BITMIME\r\n250 ok\r\n250 ok\r\n354 go\r\n250 ok\r\n",
            6,
            {},
            ""},
        ScriptCase{"LineEndsWithoutCr", "220 mx\n250 hi\n250 ok\n250 ok\n354 go\n250 ok\n", 6, {}, ""},
        ScriptCase{"WillForwardToRecipient",
                   "220 mx\r\n250 hi\r\n250 ok\r\n251 user not local; will forward\r\n354 go\r\n250 ok\r\n",
                   6,
                   {},
                   ""},
        ScriptCase{"CannotVerifyRecipient",
                   "220 mx\r\n250 hi\r\n250 ok\r\n252 cannot verify\r\n354 go\r\n250 ok\r\n",
                   6,
                   {},
                   ""},
        ScriptCase{"AnyPositiveForSenderAndMessage",
                   "220 mx\r\n250 hi\r\n251 ok\r\n250 ok\r\n354 go\r\n252 ok\r\n",
                   6,
                   {},
                   ""},
        ScriptCase{"GreetingRefused", "554 no service here\r\n", 1, kErrorNotSmtpServer, "554 no service here"},
        ScriptCase{"GreetingBusy", "421 try later\r\n", 1, kErrorNotSmtpServer, "421 try later"},
        ScriptCase{"GreetingCodeIsTheLastLines", "220-fine so far\r\n554 but no\r\n", 1, kErrorNotSmtpServer,
                   "554 but no"},
        ScriptCase{"GreetingTooShort", "22\r\n", 1, kErrorNotSmtpServer, "22"},
        ScriptCase{"GreetingNotSmtp", "SSH-2.0-OpenSSH\r\n", 1, kErrorNotSmtpServer, "SSH-2.0-OpenSSH"},
        ScriptCase{"HeloRefused", "220 mx\r\n501 bad name\r\n", 2, kErrorNotSmtpServer, "501 bad name"},
        ScriptCase{"HeloAnsweredWithAnotherGreeting", "220 mx\r\n220 mx again\r\n", 2, kErrorNotSmtpServer,
                   "220 mx again"},
        ScriptCase{"SenderRejected", "220 mx\r\n250 hi\r\n550 5.7.1 not allowed\r\n", 3, kErrorSenderRejected,
                   "550 5.7.1 not allowed"},
        ScriptCase{"SenderDeferred", "220 mx\r\n250 hi\r\n451 later\r\n", 3, kErrorSenderRejected, "451 later"},
        ScriptCase{"RecipientRejected", "220 mx\r\n250 hi\r\n250 ok\r\n550 no such user\r\n", 4,
                   kErrorRecipientRejected, "550 no such user"},
        ScriptCase{"RecipientDeferred", "220 mx\r\n250 hi\r\n250 ok\r\n450 mailbox busy\r\n", 4,
                   kErrorRecipientRejected, "450 mailbox busy"},
        ScriptCase{"DataRejected", "220 mx\r\n250 hi\r\n250 ok\r\n250 ok\r\n554 no data\r\n", 5, kErrorDataRejected,
                   "554 no data"},
        ScriptCase{"DataDeferred", "220 mx\r\n250 hi\r\n250 ok\r\n250 ok\r\n451 local error\r\n", 5, kErrorDataRejected,
                   "451 local error"},
        ScriptCase{"MessageRejected", "220 mx\r\n250 hi\r\n250 ok\r\n250 ok\r\n354 go\r\n552 too big\r\n", 6,
                   kErrorBodyRejected, "552 too big"},
        ScriptCase{"MessageDeferred", "220 mx\r\n250 hi\r\n250 ok\r\n250 ok\r\n354 go\r\n452 no room\r\n", 6,
                   kErrorBodyRejected, "452 no room"},
        ScriptCase{"ControlBytesInTheShownLine", "220 mx\r\n250 hi\r\n550 bad\x07\tsender\r\n", 3, kErrorSenderRejected,
                   "550 bad  sender"},
        ScriptCase{"WhatFollowsTheEndIsIgnored", kGood + "250 more\r\n554 noise\r\n", 6, {}, ""},
        ScriptCase{"WhatFollowsAFailureIsIgnored", "220 mx\r\n554 no\r\n250 hi\r\n", 2, kErrorNotSmtpServer, "554 no"}),
    [](const ::testing::TestParamInfo<ScriptCase>& p) { return std::string(p.param.name); });

TEST(Smtp, HeloCarriesThisMachinesNameNeverTheServers)
{
    SmtpRequest r = request();
    EXPECT_EQ(runScript({"220 mx\r\n"}, r).all.send, "HELO desk7.example.jp\r\n");
    for (const char* odd : {"", "bad name", "under_score", ".lead", "trail.", "a..b"}) {
        r.localHostName = odd;
        EXPECT_EQ(runScript({"220 mx\r\n"}, r).all.send, "HELO localhost\r\n") << odd;
    }
}

TEST(Smtp, EnvelopeCarriesAccountOneAndTheToTextUnchanged)
{
    SmtpRequest r = request();
    r.to = "\"a.b\"@x.jp";
    const Outcome o = runScript({"220 mx\r\n250 hi\r\n250 ok\r\n"}, r);
    EXPECT_EQ(o.all.send, "HELO desk7.example.jp\r\nMAIL FROM:<me@example.jp>\r\nRCPT TO:<\"a.b\"@x.jp>\r\n");
}

TEST(Smtp, MailTextGoesAfter354WithItsEnd)
{
    const Outcome o = runScript({"220 mx\r\n250 hi\r\n250 ok\r\n250 ok\r\n354 go\r\n"});
    ASSERT_EQ(o.state, SmtpState::WaitMessage);
    EXPECT_TRUE(o.all.send.ends_with("DATA\r\n" + o.mailText));
    EXPECT_TRUE(o.mailText.ends_with("line 1\r\n..\r\nline 3\r\n.\r\n"));
}

TEST(Smtp, EachStateWaitsForItsReply)
{
    const std::vector<std::string> replies = {"220 a\r\n", "250 b\r\n", "250 c\r\n", "250 d\r\n", "354 e\r\n"};
    SmtpConversation c;
    ASSERT_TRUE(c.start(request()).connect);
    EXPECT_EQ(c.state(), SmtpState::WaitGreeting);
    for (std::size_t i = 0; i < replies.size(); ++i) {
        c.feed(replies[i]);
        EXPECT_EQ(static_cast<int>(c.state()), static_cast<int>(i) + 2);
    }
}

struct EndingCase {
    const char* name;
    std::string before; // replies first
    int call;           // 0 timedOut, 1 connectionClosed, 2 connectFailed, 3 abort
    std::string send;
    std::string message;
};

void PrintTo(const EndingCase& c, std::ostream* os)
{
    *os << c.name;
}

class Endings : public ::testing::TestWithParam<EndingCase> {};

// Silence, a dropped connection and a failed connect each end the conversation with their message
// and release the socket; the conversation may start again.
TEST_P(Endings, EndWithTheirMessageAndReleaseTheSocket)
{
    const EndingCase& c = GetParam();
    SmtpConversation conversation;
    ASSERT_TRUE(conversation.start(request()).connect);
    conversation.feed(c.before);
    ASSERT_TRUE(conversation.running());
    SmtpStep step;
    switch (c.call) {
    case 0:
        step = conversation.timedOut();
        break;
    case 1:
        step = conversation.connectionClosed();
        break;
    case 2:
        step = conversation.connectFailed("Connection refused");
        break;
    default:
        step = conversation.abort();
        break;
    }
    EXPECT_EQ(step.send, c.send);
    EXPECT_EQ(step.message, c.message);
    EXPECT_TRUE(step.release);
    EXPECT_FALSE(step.finished);
    EXPECT_FALSE(conversation.running());
    EXPECT_EQ(conversation.timedOut(), SmtpStep{});
    EXPECT_EQ(conversation.feed("250 late\r\n"), SmtpStep{});
    const SmtpStart again = conversation.start(request());
    EXPECT_TRUE(again.connect);
    EXPECT_EQ(conversation.state(), SmtpState::WaitGreeting);
}

INSTANTIATE_TEST_SUITE_P(
    Smtp, Endings,
    ::testing::Values(
        EndingCase{"ServerNeverGreets", "", 0, "QUIT\r\n", std::string(kErrorTimeout)},
        EndingCase{"ServerSilentAfterData", "220 a\r\n250 b\r\n250 c\r\n250 d\r\n354 e\r\n", 0, "QUIT\r\n",
                   std::string(kErrorTimeout)},
        EndingCase{"SilentInTheMiddleOfAReply", "220-a\r\n220-b", 0, "QUIT\r\n", std::string(kErrorTimeout)},
        EndingCase{"DroppedDuringData", "220 a\r\n250 b\r\n250 c\r\n250 d\r\n354 e\r\n", 1, "",
                   std::string(kErrorConnectionLost)},
        EndingCase{"DroppedAfterGreeting", "220 a\r\n", 1, "", std::string(kErrorConnectionLost)},
        EndingCase{"ConnectRefused", "", 2, "", std::string(kErrorConnectFailed) + "Connection refused\r\n"},
        EndingCase{"WindowClosedMidway", "220 a\r\n", 3, "QUIT\r\n", ""}),
    [](const ::testing::TestParamInfo<EndingCase>& p) { return std::string(p.param.name); });

TEST(Smtp, ConnectFailureWithoutReasonShowsTheTextAlone)
{
    SmtpConversation c;
    c.start(request());
    EXPECT_EQ(c.connectFailed().message, kErrorConnectFailed);
}

TEST(Smtp, RefusedBeforeConnecting)
{
    SmtpConversation c;
    SmtpRequest none = request();
    none.account.reset();
    SmtpStart s = c.start(none);
    EXPECT_FALSE(s.connect);
    EXPECT_EQ(s.message, kErrorNoAccount);
    EXPECT_FALSE(c.running());

    for (const char* to : {"a@b\r\nRCPT TO:<c@d>", "a@b\n", "a\r"}) {
        SmtpRequest r = request();
        r.to = to;
        s = c.start(r);
        EXPECT_FALSE(s.connect) << to;
        EXPECT_EQ(s.message, kErrorLineBreakInAddress);
    }
    SmtpRequest r = request();
    r.account->emailAddress = "me@x\r\nRSET";
    EXPECT_EQ(c.start(r).message, kErrorLineBreakInAddress);
    EXPECT_FALSE(c.running());
}

TEST(Smtp, ASecondSendWhileOneRunsIsIgnored)
{
    SmtpConversation c;
    ASSERT_TRUE(c.start(request()).connect);
    c.feed("220 mx\r\n");
    const SmtpStart second = c.start(request());
    EXPECT_FALSE(second.connect);
    EXPECT_TRUE(second.message.empty());
    EXPECT_EQ(c.state(), SmtpState::WaitHelo);
    EXPECT_EQ(c.feed("250 hi\r\n").send, "MAIL FROM:<me@example.jp>\r\n");
}

TEST(Smtp, BytesWithoutAConversationAreIgnored)
{
    SmtpConversation c;
    EXPECT_EQ(c.feed(kGood), SmtpStep{});
    EXPECT_EQ(c.connectionClosed(), SmtpStep{});
    EXPECT_EQ(c.abort(), SmtpStep{});
}

TEST(Smtp, ConnectsToAccountOnesServerAndPortAndRefusesATextNamingNoPort)
{
    struct PortCase {
        const char* text;
        std::optional<std::uint16_t> port; // nullopt: refused, nothing to connect to
    };
    for (const PortCase& p :
         {PortCase{"25", 25}, PortCase{"587", 587}, PortCase{" 2525 ", 2525}, PortCase{"65535", 65535},
          PortCase{"", 25}, PortCase{"  ", 25}, PortCase{"0", {}}, PortCase{"65536", {}}, PortCase{"99999", {}},
          PortCase{"99999999999", {}}, PortCase{"-1", {}}, PortCase{"25a", {}}, PortCase{"smtp", {}}}) {
        SmtpRequest r = request();
        r.account->smtpPort = p.text;
        SmtpConversation c;
        const SmtpStart s = c.start(r);
        EXPECT_EQ(s.connect, p.port.has_value()) << '"' << p.text << '"';
        EXPECT_EQ(c.running(), p.port.has_value()) << '"' << p.text << '"';
        if (p.port) {
            EXPECT_EQ(s.host, "mail.example.jp");
            EXPECT_EQ(s.port, *p.port) << '"' << p.text << '"';
        } else {
            EXPECT_EQ(s.message, badSmtpPortText(p.text));
        }
    }
    // The refusal names the setting and the stored text.
    EXPECT_NE(badSmtpPortText("99999").find("SMTP"), std::string::npos);
    EXPECT_NE(badSmtpPortText("99999").find("\x81u99999\x81v"), std::string::npos); // 「99999」
    EXPECT_NE(badPopPortText("-1").find("POP3"), std::string::npos);
    EXPECT_EQ(accountPort("", kDefaultPop3Port), kDefaultPop3Port);
    EXPECT_EQ(accountPort("-1", kDefaultPop3Port), std::nullopt);
}

TEST(Smtp, EnvelopeAddressesMustBeOneMailbox)
{
    const std::vector<std::string> mailboxes = {"you@example.com",
                                                "first.last+tag@sub.example.co.jp",
                                                "o'neil!#$%&*/=?^_`{|}~-@x-y.example",
                                                "\"quoted.name\"@example.com",
                                                "\"a\\\"b\"@example.com",
                                                "user@[192.0.2.1]",
                                                "user@[IPv6:2001:db8::1]",
                                                "a@x",
                                                std::string(64, 'a') + "@x"};
    const std::vector<std::string> others = {"a@x> NOTIFY=NEVER",
                                             "a@x>",
                                             "<a@x>",
                                             "a@x ORCPT=rfc822;b@y",
                                             "a @x",
                                             "a@x, b@y",
                                             "a@x\tb",
                                             "a@x\x7f",
                                             "\x91\xbe\x98Y@example.jp" /* 太郎 in code page 932 */,
                                             "taro@\x97\xe1.jp",
                                             "",
                                             "@x",
                                             "a@",
                                             "ax",
                                             "a@@x",
                                             "a@b@x",
                                             ".a@x",
                                             "a.@x",
                                             "a..b@x",
                                             "a@x..y",
                                             "a@-x",
                                             "a@x-",
                                             "a@x.",
                                             "a@x_y",
                                             "\"a b\"@x",
                                             "\"a@x",
                                             "a@[1.2.3.4",
                                             "a@[]",
                                             "a@[1 2]",
                                             std::string(65, 'a') + "@x",
                                             "a@" + std::string(63, 'b') + "." + std::string(63, 'c') + "." +
                                                 std::string(63, 'd') + "." + std::string(63, 'e')};
    for (const std::string& address : mailboxes)
        EXPECT_TRUE(isMailbox(address)) << '"' << address << '"';
    // The conversation refuses anything else before there is anything to connect to, saying which
    // address it was.
    for (const std::string& address : others) {
        EXPECT_FALSE(isMailbox(address)) << '"' << address << '"';
        SmtpRequest to = request();
        to.to = address;
        SmtpConversation c;
        const SmtpStart s = c.start(to);
        EXPECT_EQ(s, (SmtpStart{false, {}, 25, badToAddressText()})) << address;
        EXPECT_FALSE(c.running()) << address;
        SmtpRequest from = request();
        from.account->emailAddress = address;
        EXPECT_EQ(c.start(from), (SmtpStart{false, {}, 25, badFromAddressText()})) << address;
    }
    EXPECT_NE(badToAddressText(), badFromAddressText());
}

// A line longer than any server may send is cut, so a hostile server cannot make it grow.
TEST(Smtp, OverlongReplyLineIsCut)
{
    SmtpConversation c;
    c.start(request());
    const std::string endless(SmtpConversation::kMaxReplyLine * 3, '2');
    const SmtpStep step = c.feed(endless);
    EXPECT_EQ(step.message,
              std::string(kErrorNotSmtpServer) + std::string(SmtpConversation::kMaxReplyLine, '2') + "\r\n");
    EXPECT_FALSE(c.running());
}

} // namespace

} // namespace orvalink::mail
