// Downloads from a real dovecot POP3 server in the test's private network: the conversation, the
// filed bytes, and that a second download files only what is new.
#include "mail/ReceiveTestSupport.h"
#include "mail/engine/Pop3Engine.h"
#include "mail/engine/ReceivedMailFiler.h"
#include "mail/engine/UidlRecord.h"
#include "support/MailServers.h"
#include "support/Pop3Driver.h"
#include "support/PrivateNetwork.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace orvalink::mail {

using namespace orvalink;

namespace {

// テスト in Shift-JIS, and 漢字.
const std::string kTesuto = "\x83\x65\x83\x58\x83\x67";
const std::string kKanji = "\x8a\xbf\x8e\x9a";

const std::string kMessage1 = "Received: from mx.example.jp by host; Mon, 01 Jan 2024 10:00:00 +0900\r\n"
                              "From: taro@example.jp\r\n"
                              "To: hanako@example.jp\r\n"
                              "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\r\n"
                              "Date: Mon, 01 Jan 2024 09:59:59 +0900\r\n"
                              "\r\n"
                              "\x1b$B4A;z\x1b(B\r\n"
                              ".hidden behind a dot\r\n"
                              "end\r\n";
const std::string kStored1 = "Received: from mx.example.jp by host; Mon, 01 Jan 2024 10:00:00 +0900\r\n"
                             "From: taro@example.jp\r\n"
                             "To: hanako@example.jp\r\n"
                             "Subject: " +
                             kTesuto +
                             "\r\n"
                             "Date: Mon, 01 Jan 2024 09:59:59 +0900\r\n"
                             "\r\n" +
                             kKanji +
                             "\r\n"
                             ".hidden behind a dot\r\n"
                             "end\r\n";

const std::string kMessage2 = "Received: from mx.example.jp\r\n"
                              "\tby host; Tue, 02 Jan 2024 10:00:00 +0900\r\n"
                              "From: jiro@example.jp\r\n"
                              "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\r\n"
                              " =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\r\n"
                              "Cc: saburo@example.jp\r\n"
                              "\r\n"
                              "\xb4\xc1\xbb\xfa\r\n"
                              "\tindented body line\r\n";
const std::string kStored2 = "Received: from mx.example.jpby host; Tue, 02 Jan 2024 10:00:00 +0900\r\n"
                             "From: jiro@example.jp\r\n"
                             "Subject: " +
                             kTesuto + kTesuto +
                             "\r\n"
                             "Cc: saburo@example.jp\r\n"
                             "\r\n" +
                             kKanji +
                             "\r\n"
                             "\tindented body line\r\n";

const std::string kMessage3 = "From: shiro@example.jp\r\nSubject: plain\r\n\r\nthird\r\n";

class DovecotDownload : public ::testing::Test {
protected:
    void SetUp() override
    {
        ORVALINK_REQUIRE_PRIVATE_NETWORK();
        server = std::make_unique<test::DovecotPop3>(test::kPrivateHostAddress);
        ASSERT_TRUE(server->start()) << server->failure();
    }

    // One whole download as the receive window runs it.
    test::Pop3Run download(int* filed = nullptr)
    {
        mail::UidlRecord record(dir.path(), server->address(), server->user());
        mail::ReceivedMailFiler filer(dir.path(), &record);
        mail::Pop3Engine engine({server->user(), server->password()}, filer, record.load());
        const int fd = test::connectTcp(server->address(), server->port());
        EXPECT_GE(fd, 0);
        test::Pop3Run run = test::drivePop3(fd, engine, 20000);
        EXPECT_EQ(engine.outcome(), mail::Pop3Outcome::Done);
        EXPECT_TRUE(engine.serverHasUidl());
        if (filed)
            *filed = filer.filedCount();
        return run;
    }

    test::TempDir dir{"orvalink-pop3"};
    std::unique_ptr<test::DovecotPop3> server;
};

TEST_F(DovecotDownload, FilesEachMessageConvertedAndTheSecondDownloadOnlyWhatIsNew)
{
    server->addMessage(kMessage1);
    server->addMessage(kMessage2);
    server->addMessage(kMessage3);

    int filed = 0;
    const test::Pop3Run first = download(&filed);
    EXPECT_EQ(first.sent, "USER taro\r\nPASS secret\r\nSTAT\r\nUIDL\r\nLIST 1\r\nRETR 1\r\nLIST 2\r\nRETR 2\r\n"
                          "LIST 3\r\nRETR 3\r\nQUIT\r\n");
    EXPECT_TRUE(first.errors.empty()) << first.errors.front();
    EXPECT_EQ(filed, 3);
    const std::vector<std::string> stored = receivedMessages(dir.path());
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_EQ(stored[0], kStored1);
    EXPECT_EQ(stored[1], kStored2);
    EXPECT_EQ(stored[2], kMessage3);

    // No work file is left, the record of ids is private.
    const auto folder = *store::folderFsPath(dir.path(), store::kReceivedFolder);
    for (const std::string& file : {folder + "1.qel", folder + "1.qeltab", folder + "1.qelcnv", folder + "3.qel"})
        EXPECT_FALSE(std::filesystem::exists(file)) << file;
    struct stat st {};
    const mail::UidlRecord record(dir.path(), server->address(), server->user());
    ASSERT_EQ(::stat(record.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(record.load().size(), 3u);

    const test::Pop3Run second = download(&filed);
    EXPECT_EQ(second.sent, "USER taro\r\nPASS secret\r\nSTAT\r\nUIDL\r\nQUIT\r\n");
    EXPECT_EQ(filed, 0);
    EXPECT_EQ(receivedMessages(dir.path()).size(), 3u);

    server->addMessage("From: goro@example.jp\r\nSubject: new\r\n\r\nfourth\r\n");
    const test::Pop3Run third = download(&filed);
    EXPECT_EQ(third.sent, "USER taro\r\nPASS secret\r\nSTAT\r\nUIDL\r\nLIST\r\nLIST 4\r\nRETR 4\r\nQUIT\r\n");
    EXPECT_EQ(filed, 1);
    // The bar's range shrinks from the whole mailbox to the one new message, and the bar fills.
    std::vector<int> ranges;
    std::vector<int> positions;
    for (const mail::Pop3Event& e : third.events) {
        if (e.kind == mail::Pop3Event::Kind::ProgressRange)
            ranges.push_back(e.value);
        if (e.kind == mail::Pop3Event::Kind::ProgressPosition)
            positions.push_back(e.value);
    }
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_GT(ranges[0], ranges[1]);
    EXPECT_GT(ranges[1], 0);
    EXPECT_EQ(positions, std::vector<int>{ranges[1]});
    const std::vector<std::string> after = receivedMessages(dir.path());
    ASSERT_EQ(after.size(), 4u);
    EXPECT_EQ(after[3], "From: goro@example.jp\r\nSubject: new\r\n\r\nfourth\r\n");
}

TEST_F(DovecotDownload, WrongPasswordEndsWithTheServersTextAndQuit)
{
    server->addMessage(kMessage3);
    mail::ReceivedMailFiler filer(dir.path(), nullptr);
    mail::Pop3Engine engine({server->user(), "wrong"}, filer);
    const test::Pop3Run run = test::drivePop3(test::connectTcp(server->address(), server->port()), engine, 20000);
    EXPECT_EQ(run.sent, "USER taro\r\nPASS wrong\r\nQUIT\r\n");
    EXPECT_EQ(engine.outcome(), mail::Pop3Outcome::Failed);
    ASSERT_EQ(run.errors.size(), 1u);
    EXPECT_EQ(run.errors[0].rfind(sj("サーバーの応答: -ERR"), 0), 0u) << run.errors[0];
    EXPECT_TRUE(receivedMessages(dir.path()).empty());
}

} // namespace

} // namespace orvalink::mail
