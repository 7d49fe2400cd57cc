// The whole program reading and answering mail on the simulated LAN: a real POP3 server (dovecot)
// and a real SMTP server (aiosmtpd) in the program's host namespace. The program downloads, the
// automation channel selects 受信したメール, opens the newest message and replies from its read
// window; the reply reaches the server's folder and 送信したメール.

#include "app/ProgramOnLan.h"
#include "platform/text/ByteEscape.h"
#include "platform/text/Cp932.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace orvalink::app {

namespace {

std::string mboxPath()
{
    return buildDir() + "/tools/mbox/orvalink-mbox";
}
std::string sinkScript()
{
    return std::string(ORVALINK_SOURCE_DIR_DEFAULT) + "/tests/support/smtp_sink.py";
}
std::string sj(const char* utf8)
{
    return platform::utf8ToCp932(utf8);
}
std::string esc(const std::string& cp932)
{
    return platform::escapeBytes(cp932);
}

class ReadMailOnLan : public ChatLanTest {
protected:
    static constexpr const char* kPopPort = "1110";

    void SetUp() override
    {
        const fs::path dir = folder.host(1);
        mailDir = writeMailAccount(dir, kPopPort, "secret");
        sinkDir = dir / "received";
        fs::create_directories(sinkDir);
        platform::Profile p((dir / "config/Orvalink/Orvalink.conf").string());
        p.writeString("Server Entry", "SMTP Server1", "10.77.0.1");
        p.writeString("Server Entry", "SMTP PortNo1", "25");
        p.writeString("Server Entry", "EMAIL ADRESS1", "taro@example.jp");
        startHosts(1);
        if (IsSkipped() || HasFatalFailure())
            return;

        ORVALINK_START_POP3(pop3, *lan, 1, lan->address(1), kPopPort, dir);

        if (::access("/usr/bin/python3", X_OK) != 0)
            GTEST_SKIP() << "needs /usr/bin/python3 with aiosmtpd (Debian package python3-aiosmtpd)";
        const fs::path out = dir / "smtp.out";
        tools::SimulatedLan::Program sink;
        sink.argv = {"/usr/bin/python3", sinkScript(), sinkDir.string(), "--host", "0.0.0.0", "--port", "25"};
        sink.stdoutPath = out.string();
        sink.stderrPath = (dir / "smtp.err").string();
        ASSERT_GT(lan->start(1, sink), 0);
        if (!waitUntil([&] { return readFile(out).find("ready\n") != std::string::npos; }, 30000))
            FAIL() << "aiosmtpd did not start within 30 s: " << readFile(dir / "smtp.err");
    }

    void addMessage(const std::string& bytes) { ASSERT_TRUE(pop3.add({bytes}, folder.root())); }

    const DrivenHost& host() const { return hosts[0]; }

    fs::path mailDir;
    fs::path sinkDir;
    LanPop3Server pop3;
};

TEST_F(ReadMailOnLan, ReceivedMessageIsReadDecodedMarkedReadAndAnsweredWithASentCopy)
{
    // Real mail begins with the lines the servers on its way added; the index takes no field from a
    // message's first line.
    addMessage("Return-Path: <hanako@example.jp>\r\nFrom: hanako@example.jp\r\nTo: taro@example.jp\r\nSubject: "
               "older\r\n\r\nthe older one\r\n");
    // The newest: its subject a UTF-8 encoded word the filing leaves as it is, its body
    // quoted-printable UTF-8.
    addMessage("Return-Path: <hanako@example.jp>\r\nFrom: Hanako <hanako@example.jp>\r\nTo: taro@example.jp\r\n"
               "Subject: =?UTF-8?B?5piO5pel44Gu5Lya6K2w?=\r\nMIME-Version: 1.0\r\n"
               "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
               "=E5=8D=81=E6=99=82=E3=81=AB=E9=9B=86=E5=90=88=E3=81=A7=E3=81=99=E3=80=82\r\n");
    ASSERT_TRUE(host().command("command 32771"));
    std::vector<std::string> d;
    ASSERT_TRUE(host().dumpHas({"recvended 1", "recvwindow closed"}, &d)) << joinLines(d);

    const std::string subject = sj("明日の会議");
    const std::string body = sj("十時に集合です。");
    ASSERT_TRUE(host().command("folder " + esc(std::string(sj("受信したメール")))));
    ASSERT_TRUE(host().dumpHas({"mailrow 0 unread|hanako@example.jp|older",
                                "mailrow 1 unread|" + esc("Hanako <hanako@example.jp>") + "|" + esc(subject)},
                               &d))
        << joinLines(d);
    ASSERT_TRUE(host().command("mailopen 1"));
    ASSERT_TRUE(
        host().dumpHas({"read 0 " + esc("Hanako <hanako@example.jp>") + "|" + esc(subject) + "|" + esc(body + "\n"),
                        "mailrow 1 read|" + esc("Hanako <hanako@example.jp>") + "|" + esc(subject),
                        "mailrow 0 unread|hanako@example.jp|older"},
                       &d))
        << joinLines(d);

    ASSERT_TRUE(host().command("readreply 0"));
    const std::string replySubject = "Re: " + subject;
    const std::string quoted = "> " + body;
    ASSERT_TRUE(
        host().dumpHas({"compose 0 0|taro@example.jp|hanako@example.jp|" + esc(replySubject) + "|" + esc(quoted)}, &d))
        << joinLines(d);
    ASSERT_TRUE(host().command("mailcommand 0 32782"));
    ASSERT_TRUE(waitUntil([&] { return fs::exists(sinkDir / "mail-000001.eml"); }, 30000))
        << readFile(host().dir / "messageboxes.log");
    const std::string sent = readFile(sinkDir / "mail-000001.eml");
    EXPECT_NE(sent.find("\r\nTo: hanako@example.jp\r\n"), std::string::npos) << sent;

    // The reply is kept in 送信したメール.
    std::string out;
    ASSERT_TRUE(waitUntil([&] {
        out.clear();
        lan->run(1, {mboxPath(), "list", (mailDir / "送信したメール").string()}, &out, 10000);
        return !lines(out).empty();
    }));
    const auto records = lines(out);
    ASSERT_EQ(records.size(), 1u) << out;
    EXPECT_NE(records[0].find("\thanako@example.jp\t"), std::string::npos) << records[0];
    EXPECT_NE(records[0].find("Re: "), std::string::npos) << records[0];
    out.clear();
    ASSERT_EQ(lan->run(1, {mboxPath(), "extract", (mailDir / "送信したメール").string(), "0"}, &out, 10000), 0);
    EXPECT_EQ(out, quoted);
    EXPECT_EQ(readFile(host().dir / "messageboxes.log"), "");
}

} // namespace

} // namespace orvalink::app
