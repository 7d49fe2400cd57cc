// The whole program sending and saving mail on the simulated LAN: a real SMTP server (aiosmtpd)
// runs in the program's host namespace; the posted new-mail command opens a compose window, the
// automation channel types into it and presses send or save. The server's folder and the store's
// reader tool show what arrived.

#include "app/ProgramOnLan.h"
#include "platform/text/ByteEscape.h"
#include "platform/text/Cp932.h"

#include <QByteArray>
#include <algorithm>
#include <gtest/gtest.h>
#include <iconv.h>
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

// ISO-2022-JP bytes as UTF-8, through the C library's converter; "?" marks when it cannot.
std::string fromIso2022Jp(const std::string& bytes)
{
    iconv_t cd = ::iconv_open("UTF-8", "ISO-2022-JP");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return "?iconv";
    std::string out(bytes.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char* o = out.data();
    std::size_t outLeft = out.size();
    const std::size_t rc = ::iconv(cd, &in, &inLeft, &o, &outLeft);
    ::iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1))
        return "?invalid";
    out.resize(out.size() - outLeft);
    return out;
}

// The Subject header's encoded words (continuation lines included), decoded to UTF-8.
std::string subjectOf(const std::string& header)
{
    const std::size_t start = header.find("Subject: ");
    if (start == std::string::npos)
        return "?none";
    std::size_t end = header.find("\r\n", start);
    while (end != std::string::npos && end + 2 < header.size() && header[end + 2] == ' ')
        end = header.find("\r\n", end + 2);
    const std::string field = header.substr(start, end - start);
    std::string jis;
    for (std::size_t at = field.find("=?ISO-2022-JP?B?"); at != std::string::npos;
         at = field.find("=?ISO-2022-JP?B?", at + 1)) {
        const std::size_t from = at + 16;
        const std::size_t to = field.find("?=", from);
        const QByteArray raw = QByteArray::fromBase64(QByteArray::fromStdString(field.substr(from, to - from)));
        jis += raw.toStdString();
    }
    return fromIso2022Jp(jis);
}

class ComposeOnLan : public ChatLanTest {
protected:
    void SetUp() override
    {
        const fs::path dir = folder.host(1);
        mailDir = dir / "mail";
        sinkDir = dir / "received";
        fs::create_directories(mailDir);
        fs::create_directories(sinkDir);
        ::chmod(mailDir.c_str(), 0700);
        platform::Profile p((dir / "config/Orvalink/Orvalink.conf").string());
        p.writeString("Mail Entry", "SaveFolder", mailDir.string());
        p.writeInt("Server Entry", "Count", 1);
        p.writeString("Server Entry", "Server Name1", "home");
        p.writeString("Server Entry", "SMTP Server1", "10.77.0.1");
        p.writeString("Server Entry", "SMTP PortNo1", "25");
        p.writeString("Server Entry", "EMAIL ADRESS1", "hanako@example.jp");
        startHosts(1);
        if (IsSkipped() || HasFatalFailure())
            return;
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

    const DrivenHost& host() const { return hosts[0]; }

    // Opens a compose window (opener: the mail toolbar's button, or the command posted to the main
    // window) and types into it.
    void compose(const std::string& opener, const std::string& to, const std::string& subject, const std::string& body)
    {
        ASSERT_TRUE(host().command(opener));
        ASSERT_FALSE(host().waitForLine([](const std::string& l) { return l.rfind("compose 0 ", 0) == 0; }).empty());
        ASSERT_TRUE(host().command("mail 0 to " + platform::escapeBytes(to)));
        ASSERT_TRUE(host().command("mail 0 subject " + platform::escapeBytes(subject)));
        ASSERT_TRUE(host().command("mail 0 body " + platform::escapeBytes(body)));
        const std::string typed = "compose 0 0|hanako@example.jp|" + platform::escapeBytes(to) + "|" +
                                  platform::escapeBytes(subject) + "|" + platform::escapeBytes(body);
        ASSERT_TRUE(host().dumpHas({typed}));
    }
    bool composeWindowGone() const
    {
        return waitUntil([&] {
            const auto d = host().dump();
            return !d.empty() &&
                   std::none_of(d.begin(), d.end(), [](const std::string& l) { return l.rfind("compose ", 0) == 0; });
        });
    }

    fs::path mailDir;
    fs::path sinkDir;
};

TEST_F(ComposeOnLan, NewMailIsSentToTheServerAndTheWindowCloses)
{
    const std::string body = sj("こんにちは、世界。\r\nｶﾀｶﾅ and ASCII\r\n.\r\n最後の行");
    compose("click 32776", "taro@example.jp", sj("ご挨拶"), body);
    ASSERT_TRUE(host().command("mailcommand 0 32782"));
    ASSERT_TRUE(waitUntil([&] { return fs::exists(sinkDir / "mail-000001.env"); }, 30000))
        << readFile(host().dir / "messageboxes.log");
    EXPECT_TRUE(composeWindowGone());

    const auto envelope = lines(readFile(sinkDir / "mail-000001.env"));
    EXPECT_NE(std::find(envelope.begin(), envelope.end(), "from hanako@example.jp"), envelope.end());
    EXPECT_EQ(
        std::count_if(envelope.begin(), envelope.end(), [](const std::string& l) { return l.rfind("to ", 0) == 0; }),
        1);
    EXPECT_NE(std::find(envelope.begin(), envelope.end(), "to taro@example.jp"), envelope.end());

    const std::string mail = readFile(sinkDir / "mail-000001.eml");
    const std::size_t split = mail.find("\r\n\r\n");
    ASSERT_NE(split, std::string::npos) << mail;
    const auto header = lines(mail.substr(0, split + 2));
    ASSERT_GE(header.size(), 9u) << mail;
    EXPECT_EQ(header[0].rfind("Subject: =?ISO-2022-JP?B?", 0), 0u) << header[0];
    EXPECT_EQ(header[1], "To: taro@example.jp\r");
    EXPECT_EQ(header[2], "X-Mailer: QelMail2000 Version 1.0\r");
    EXPECT_EQ(header[6], "From: hanako@example.jp\r");
    EXPECT_EQ(header[7].rfind("Date: ", 0), 0u);
    EXPECT_EQ(header[8].rfind("Message-ID: <", 0), 0u);
    // The subject and the body decode back to the typed text, half-width katakana as full-width
    // (the line end before the final dot belongs to the message).
    EXPECT_EQ(subjectOf(mail.substr(0, split + 2)), "ご挨拶");
    EXPECT_EQ(fromIso2022Jp(mail.substr(split + 4)), "こんにちは、世界。\r\nカタカナ and ASCII\r\n.\r\n最後の行\r\n");
    EXPECT_EQ(readFile(host().dir / "messageboxes.log"), "");
}

TEST_F(ComposeOnLan, SavedMailIsInTheSavedFolderAndTheWindowCloses)
{
    compose("command 32776", "taro@example.jp", sj("下書き"), sj("保存する本文"));
    ASSERT_TRUE(host().command("mailcommand 0 32783"));
    EXPECT_TRUE(composeWindowGone());
    std::string out;
    ASSERT_EQ(lan->run(1, {mboxPath(), "list", (mailDir / "保存したメール").string()}, &out, 10000), 0);
    const auto records = lines(out);
    ASSERT_EQ(records.size(), 1u) << out;
    EXPECT_NE(records[0].find("\thanako@example.jp\t下書き\ttaro@example.jp\t"), std::string::npos) << records[0];
    out.clear();
    ASSERT_EQ(lan->run(1, {mboxPath(), "extract", (mailDir / "保存したメール").string(), "0"}, &out, 10000), 0);
    EXPECT_EQ(out, sj("保存する本文"));
    EXPECT_EQ(readFile(host().dir / "messageboxes.log"), "");
    EXPECT_TRUE(fs::is_empty(sinkDir));
}

TEST_F(ComposeOnLan, SendAndReceiveReceivesAndItsWindowClosesWhenTheDownloadIsOver)
{
    // Account 1 names no POP3 server: the download the command starts ends at once, and the
    // window, which only shows that download, goes with it.
    ASSERT_TRUE(host().command("command 32792"));
    std::vector<std::string> last;
    EXPECT_TRUE(waitUntil(
        [&] {
            last = host().dump();
            return !last.empty() && std::find(last.begin(), last.end(), "sendrecv open") == last.end();
        },
        15000))
        << joinLines(last);
}

} // namespace

} // namespace orvalink::app
