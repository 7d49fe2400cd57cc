// The whole program receiving mail on the simulated LAN: a real POP3 server (dovecot) runs in the
// program's host namespace; the toolbar's receive button and the posted receive command download
// into 受信したメール, which the store's reader tool reads back.

#include "app/ProgramOnLan.h"
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

const std::string kJapaneseSubjectMessage = "From: hanako@example.jp\r\n"
                                            "To: taro@example.jp\r\n"
                                            "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\r\n"
                                            "\r\n"
                                            "first body\r\n";

std::string plainMessage(const std::string& subject)
{
    return "From: hanako@example.jp\r\nSubject: " + subject + "\r\n\r\n.dot-stuffed line of " + subject + "\r\n";
}

class MailOnLan : public ChatLanTest {
protected:
    // The server listens on a port other than 110: "POP PortNo" is what the program uses.
    static constexpr const char* kPort = "1110";
    virtual std::string password() const { return "secret"; }

    void SetUp() override
    {
        const fs::path dir = folder.host(1);
        mailDir = writeMailAccount(dir, kPort, password());
        startHosts(1);
        if (IsSkipped() || HasFatalFailure())
            return;

        ORVALINK_START_POP3(pop3, *lan, 1, lan->address(1), kPort, dir);
    }

    void addMessage(const std::string& bytes) { ASSERT_TRUE(pop3.add({bytes}, folder.root())); }

    // The received folder's records (one line each), as the store's reader tool lists them.
    std::vector<std::string> listing()
    {
        std::string out;
        const std::string folderFiles = (mailDir / "受信したメール").string();
        lan->run(1, {mboxPath(), "list", folderFiles}, &out, 10000);
        return lines(out);
    }
    std::string extract(int k)
    {
        std::string out;
        lan->run(1, {mboxPath(), "extract", (mailDir / "受信したメール").string(), std::to_string(k)}, &out, 10000);
        return out;
    }
    bool downloadsEnded(int count)
    {
        std::vector<std::string> d;
        const bool ok = hosts[0].dumpHas({"recvended " + std::to_string(count), "recvwindow closed"}, &d);
        if (!ok)
            ADD_FAILURE() << joinLines(d) << readFile(hosts[0].dir / "messageboxes.log");
        return ok;
    }

    fs::path mailDir;
    LanPop3Server pop3;
};

TEST_F(MailOnLan, ToolbarReceiveFilesEveryMessageOnceAndLaterOnlyTheNewOne)
{
    addMessage(kJapaneseSubjectMessage);
    addMessage(plainMessage("second"));
    addMessage(plainMessage("third"));
    ASSERT_TRUE(hosts[0].dumpHas({"recvwindow closed", "recvended 0"}));

    // The toolbar's button, clicked.
    ASSERT_TRUE(hosts[0].command("click 32771"));
    ASSERT_TRUE(downloadsEnded(1));
    std::vector<std::string> records = listing();
    ASSERT_EQ(records.size(), 3u) << joinLines(records);
    EXPECT_EQ(extract(0), "From: hanako@example.jp\r\n"
                          "To: taro@example.jp\r\n" +
                              platform::utf8ToCp932("Subject: テスト") + "\r\n\r\nfirst body\r\n");
    EXPECT_NE(extract(1).find("\r\n.dot-stuffed line of second\r\n"), std::string::npos) << extract(1);
    EXPECT_NE(extract(2).find("Subject: third\r\n"), std::string::npos);

    // The same command posted again: the messages are still on the server but filed already.
    ASSERT_TRUE(hosts[0].command("command 32771"));
    ASSERT_TRUE(downloadsEnded(2));
    EXPECT_EQ(listing().size(), 3u);

    // A new message on the server: only it is filed.
    addMessage(plainMessage("fourth"));
    ASSERT_TRUE(hosts[0].command("command 32771"));
    ASSERT_TRUE(downloadsEnded(3));
    records = listing();
    ASSERT_EQ(records.size(), 4u) << joinLines(records);
    EXPECT_NE(extract(3).find("Subject: fourth\r\n"), std::string::npos);
    EXPECT_EQ(readFile(hosts[0].dir / "messageboxes.log"), "");
}

class MailOnLanWrongPassword : public MailOnLan {
protected:
    std::string password() const override { return "wrong"; }
};

TEST_F(MailOnLanWrongPassword, TheReceiveWindowStaysOpenAndTheDumpShowsWhy)
{
    addMessage(plainMessage("unreachable"));
    ASSERT_TRUE(hosts[0].command("command 32771"));
    std::vector<std::string> d;
    ASSERT_TRUE(hosts[0].dumpHas({"recvended 1", "recvwindow open", "recvrunning 0",
                                  "recvstatus " + platform::escapeBytes(platform::utf8ToCp932(
                                                      "メールを受信できませんでした。エラー情報をご覧ください。")),
                                  "recvmessage ", "recvprogress 0 0"},
                                 &d))
        << joinLines(d);
    // The server's own words are in the error list.
    const std::string serverSaid = "recverror " + platform::escapeBytes(platform::utf8ToCp932("サーバーの応答: -ERR"));
    EXPECT_TRUE(std::any_of(d.begin(), d.end(), [&](const std::string& l) { return l.rfind(serverSaid, 0) == 0; }))
        << joinLines(d);
    EXPECT_TRUE(listing().empty());
}

} // namespace

} // namespace orvalink::app
