// The receive window against scripted POP3 servers over real sockets in the test's private
// network: what it sends, what it shows, what it files, and how its thread comes and goes.

#include "mail/CRThread.h"
#include "mail/ConnectErrorText.h"
#include "mail/MailTestSupport.h"
#include "mail/ReceiveCommand.h"
#include "mail/ReceiveDialog.h"
#include "mail/ScriptedPop3Server.h"
#include "platform/AsyncSocket.h"
#include "platform/MessageBoxRecorder.h"
#include "platform/text/ByteEscape.h"
#include "store/MailStore.h"
#include "support/PrivateNetwork.h"
#include "support/TestFiles.h"

#include <QPushButton>
#include <QTest>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace orvalink::mail {

using Peer = ScriptedPop3Server::Peer;

namespace {

using Commands = std::vector<std::string>;

std::string message(int n)
{
    return "Subject: message " + std::to_string(n) + "\r\n\r\nbody of " + std::to_string(n) + "\r\n";
}

// The usual log-in, up to the STAT reply for `count` messages and a server without UIDL.
bool logIn(Peer& p, int count)
{
    p.send("+OK ready\r\n");
    const std::string stat = "+OK " + std::to_string(count) + " " + std::to_string(count * 40) + "\r\n";
    return p.expect("USER taro", "+OK\r\n") && p.expect("PASS secret", "+OK\r\n") && p.expect("STAT", stat) &&
           (count == 0 || p.expect("UIDL", "-ERR no UIDL here\r\n"));
}

class ReceiveWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ORVALINK_REQUIRE_PRIVATE_NETWORK();
        m_directory.set(m_mailDir.path());
    }
    void TearDown() override
    {
        m_command.closeWindow();
        m_directory.set("");
    }

    void account(int port, int count = 1)
    {
        MailAccountStore store;
        MailAccount a;
        a.serverName = "home";
        a.popServer = orvalink::test::kPrivateHostAddress;
        a.popPort = std::to_string(port);
        a.popAccount = "taro";
        a.popPassword = "secret";
        store.write(1, a);
        a.popAccount = "second";
        store.write(2, a);
        store.setCount(count);
    }
    bool windowGone()
    {
        return QTest::qWaitFor([&] { return !m_command.dialog(); }, 15000);
    }
    bool downloadOver()
    {
        return QTest::qWaitFor([&] { return m_command.dialog() && !m_command.dialog()->downloading(); }, 15000);
    }
    std::vector<std::string> filed() const
    {
        const auto folder = orvalink::store::folderFsPath(m_mailDir.path(), orvalink::store::kReceivedFolder);
        std::vector<std::string> texts;
        if (const auto listing = orvalink::store::readFolderIndex(*folder))
            for (const auto& e : listing->entries)
                texts.push_back(orvalink::store::readFolderMessage(*folder, e).value_or("?"));
        return texts;
    }

    ProfileSandbox m_settings;
    platform::MessageBoxRecorder m_boxes;
    orvalink::test::TempDir m_mailDir{"orvalink-mail"};
    MailDirectory m_directory;
    ReceiveCommand m_command{m_directory};
};

TEST_F(ReceiveWindow, DownloadsEveryMessageWithItsProgressAndClosesAfterQuit)
{
    // Replies as real servers seldom send them: message 1 one byte per write, message 2's data,
    // its "." line and the reply to the next LIST in one write, message 3 whole in one write.
    const std::string m1 = message(1), m2 = message(2), m3 = message(3);
    const auto script = [&](Peer& p) {
        if (!logIn(p, 3) || !p.expect("LIST 1", "+OK 1 30\r\n") || p.line() != "RETR 1")
            return;
        p.sendInPieces("+OK\r\n" + m1 + ".\r\n", 1);
        if (!p.expect("LIST 2", "+OK 2 40\r\n") || p.line() != "RETR 2")
            return;
        p.send("+OK 40 octets\r\n" + m2 + ".\r\n+OK 3 50\r\n");
        if (p.line() != "LIST 3" || !p.expect("RETR 3", "+OK\r\n" + m3 + ".\r\n"))
            return;
        p.expect("QUIT", "+OK bye\r\n");
    };
    ScriptedPop3Server server(orvalink::test::kPrivateHostAddress, {script});
    account(server.port(), 150); // more accounts than the table holds: still account 1
    std::vector<std::string> progress;
    ReceiveDialog* window = m_command.run();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), QString::fromUtf8("メール受信中"));
    QObject::connect(window, &ReceiveDialog::reportShown, [&] {
        progress.push_back(std::to_string(window->progressValue()) + "/" + std::to_string(window->progressMaximum()) +
                           " " + platform::cp932ToUtf8(window->messageText()));
    });
    ASSERT_TRUE(windowGone());
    EXPECT_EQ(server.commands(), (Commands{"USER taro", "PASS secret", "STAT", "UIDL", "LIST 1", "RETR 1", "LIST 2",
                                           "RETR 2", "LIST 3", "RETR 3", "QUIT"}));
    const auto texts = filed();
    ASSERT_EQ(texts.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_NE(texts[static_cast<std::size_t>(i)].find("body of " + std::to_string(i + 1)), std::string::npos);
    // The bar's range is the mailbox size; it moves with the bytes of each message, never back, and
    // reaches the sum of the sizes as each message ends (message 2's end may come with the next
    // LIST reply).
    EXPECT_NE(std::find(progress.begin(), progress.end(), "0/120 第1メールは30バイト\n"), progress.end());
    EXPECT_NE(std::find(progress.begin(), progress.end(), "30/120 第1メールは30バイト\n"), progress.end());
    EXPECT_EQ(progress.back(), "120/120 第3メールは50バイト\n");
    int last = 0;
    for (const std::string& shown : progress) {
        const int value = std::stoi(shown);
        EXPECT_GE(value, last) << shown;
        last = value;
    }
    EXPECT_TRUE(m_boxes.calls().empty());
}

// Mail is received under whatever folder the user picked: the folder's files lie in it with their
// usual names, and no work file is left beside them.
TEST_F(ReceiveWindow, FilesIntoAMailDirectoryNoCodePage932TextNames)
{
    const std::string m1 = message(1);
    for (const std::string_view name : orvalink::test::kFolderNamesBeyondCodePage932) {
        const std::string mailDir = m_mailDir.path() + "/" + std::string(name);
        SCOPED_TRACE(platform::escapeBytes(mailDir));
        ASSERT_TRUE(std::filesystem::create_directory(mailDir));
        m_directory.setPath(mailDir);
        const auto script = [&](Peer& p) {
            if (logIn(p, 1) && p.expect("LIST 1", "+OK 1 30\r\n") && p.expect("RETR 1", "+OK\r\n" + m1 + ".\r\n"))
                p.expect("QUIT", "+OK bye\r\n");
        };
        ScriptedPop3Server server(orvalink::test::kPrivateHostAddress, {script});
        account(server.port());
        ASSERT_NE(m_command.run(), nullptr);
        ASSERT_TRUE(windowGone());
        EXPECT_TRUE(m_boxes.calls().empty());

        const std::string folder = *orvalink::store::folderFsPath(mailDir, orvalink::store::kReceivedFolder);
        EXPECT_EQ(folder, mailDir + "/受信したメール");
        const auto listing = orvalink::store::readFolderIndex(folder);
        ASSERT_TRUE(listing && listing->entries.size() == 1);
        EXPECT_EQ(orvalink::store::readFolderMessage(folder, listing->entries[0]), m1);
        for (const char* work : {"1.qel", "1.qeltab", "1.qelcnv"})
            EXPECT_FALSE(std::filesystem::exists(folder + work)) << work;
    }
}

TEST_F(ReceiveWindow, FailuresEndTheDownloadWithTheWindowOpenAndSayWhy)
{
    struct Case {
        const char* name;
        ScriptedPop3Server::Script script;
        Commands commands;
        std::string error;
        std::size_t filed;
        bool mailDirIsFile = false;
    };
    const std::string m1 = message(1);
    const std::string m2 = message(2);
    const Case cases[] = {
        {"negative reply to PASS",
         [](Peer& p) {
             p.send("+OK\r\n");
             if (p.expect("USER taro", "+OK\r\n") && p.expect("PASS secret", "-ERR wrong password\r\n"))
                 p.expect("QUIT", "+OK\r\n");
         },
         {"USER taro", "PASS secret", "QUIT"},
         "-ERR wrong password",
         0},
        {"silence after USER",
         [](Peer& p) {
             p.send("+OK\r\n");
             if (p.line() == "USER taro")
                 p.waitForClose();
         },
         {"USER taro", "QUIT"},
         sj("サーバーから60秒間応答がありません。受信を中止しました。"),
         0},
        // Bytes that keep coming keep the download alive, however long the reply takes in all.
        {"a reply slower than the silence limit, in pieces",
         [](Peer& p) {
             p.send("+OK\r\n");
             if (p.line() != "USER taro")
                 return;
             for (const char* piece : {"-ERR", " slow", " but", " here", "\r\n"}) {
                 std::this_thread::sleep_for(std::chrono::milliseconds(150));
                 p.send(piece);
             }
             p.expect("QUIT", "+OK\r\n");
         },
         {"USER taro", "QUIT"},
         "-ERR slow but here",
         0},
        {"connection dropped in message 2",
         [&](Peer& p) {
             if (logIn(p, 2) && p.expect("LIST 1", "+OK 1 30\r\n") && p.expect("RETR 1", "+OK\r\n" + m1 + ".\r\n") &&
                 p.expect("LIST 2", "+OK 2 30\r\n") && p.line() == "RETR 2")
                 p.send("+OK\r\nSubject: half\r\n\r\nthe first half");
         },
         {"USER taro", "PASS secret", "STAT", "UIDL", "LIST 1", "RETR 1", "LIST 2", "RETR 2"},
         sj("第2メールの受信中に接続が切れました。このメールは保存していません。"),
         1},
        // Messages that cannot be filed: the download goes to its end and then says so.
        {"mail directory is a file",
         [&](Peer& p) {
             if (logIn(p, 2) && p.expect("LIST 1", "+OK 1 30\r\n") && p.expect("RETR 1", "+OK\r\n" + m1 + ".\r\n") &&
                 p.expect("LIST 2", "+OK 2 30\r\n") && p.expect("RETR 2", "+OK\r\n" + m2 + ".\r\n"))
                 p.expect("QUIT", "+OK\r\n");
         },
         {"USER taro", "PASS secret", "STAT", "UIDL", "LIST 1", "RETR 1", "LIST 2", "RETR 2", "QUIT"},
         sj("第2メール"),
         0,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(m_mailDir.path());
        std::filesystem::create_directories(m_mailDir.path());
        const std::string notADirectory = m_mailDir.path() + "/file";
        orvalink::test::writeFile(notADirectory, "x");
        m_directory.setPath(c.mailDirIsFile ? notADirectory : m_mailDir.path());
        ScriptedPop3Server server(orvalink::test::kPrivateHostAddress, {c.script});
        account(server.port());
        m_command.setSilenceTimeout(std::chrono::milliseconds(300));
        ReceiveDialog* window = m_command.run();
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(downloadOver());
        ASSERT_TRUE(QTest::qWaitFor([&] { return server.scriptsDone() == 1; }, 15000));
        EXPECT_EQ(server.commands(), c.commands);
        ASSERT_FALSE(window->errors().empty());
        EXPECT_NE(window->errors().back().find(c.error), std::string::npos)
            << platform::cp932ToUtf8(window->errors().back());
        EXPECT_EQ(filed().size(), c.filed);
        ASSERT_EQ(m_command.dialog(), window) << "the window stays open";
        // Nothing looks as if the download still ran.
        EXPECT_TRUE(window->failed());
        EXPECT_EQ(window->statusText(), sj("メールを受信できませんでした。エラー情報をご覧ください。"));
        EXPECT_EQ(window->abortButton()->text(), QString::fromUtf8("閉じる"));
        EXPECT_EQ(window->windowTitle(), QString::fromUtf8("メール受信"));
        if (c.mailDirIsFile) {
            // Each message that was not filed is named.
            ASSERT_EQ(window->errors().size(), 2u);
            EXPECT_EQ(window->errors()[0].rfind(sj("第1メール"), 0), 0u) << platform::cp932ToUtf8(window->errors()[0]);
            EXPECT_EQ(window->errors()[1].rfind(sj("第2メール"), 0), 0u) << platform::cp932ToUtf8(window->errors()[1]);
        }
        // The button closes the window now.
        QTest::mouseClick(window->abortButton(), Qt::LeftButton);
        ASSERT_TRUE(windowGone());
    }
    m_directory.setPath(m_mailDir.path());
}

TEST_F(ReceiveWindow, AbortSendsQuitAndTheWindowClosesWhenTheServerDoes)
{
    const auto script = [](Peer& p) {
        p.send("+OK\r\n");
        if (p.expect("USER taro", "+OK\r\n") && p.line() == "PASS secret")
            p.expect("QUIT", "+OK\r\n");
    };
    ScriptedPop3Server server(orvalink::test::kPrivateHostAddress, {script});
    account(server.port());
    ReceiveDialog* window = m_command.run();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->statusText() == sj("パスワード送信"); }, 10000));
    QTest::mouseClick(window->abortButton(), Qt::LeftButton);
    ASSERT_TRUE(windowGone());
    EXPECT_EQ(server.commands(), (Commands{"USER taro", "PASS secret", "QUIT"}));

    // Without a download, abort only closes the window.
    account(1, 0);
    window = m_command.run();
    ASSERT_NE(window, nullptr);
    QTest::mouseClick(window->abortButton(), Qt::LeftButton);
    EXPECT_TRUE(windowGone());
}

TEST_F(ReceiveWindow, OneThreadWhileTheWindowLivesAndANewOneAfterIt)
{
    // Two connections: the first ends with the window closed by hand during the download, the
    // second is a whole empty download.
    const auto silent = [](Peer& p) {
        p.send("+OK\r\n");
        if (p.line() == "USER taro")
            p.waitForClose();
    };
    const auto empty = [](Peer& p) {
        if (logIn(p, 0))
            p.expect("QUIT", "+OK\r\n");
    };
    ScriptedPop3Server server(orvalink::test::kPrivateHostAddress, {silent, empty});
    account(server.port());
    ReceiveDialog* window = m_command.run();
    ASSERT_NE(window, nullptr);
    CRThread* thread = window->receiveThread();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->statusText() == sj("ユーザー名送信"); }, 10000));
    // A second command during the download reuses the window and its thread and starts nothing.
    EXPECT_EQ(m_command.run(), window);
    EXPECT_EQ(window->receiveThread(), thread);
    EXPECT_TRUE(thread->isRunning());

    // Closing the window ends the download and the thread; the server hears QUIT.
    window->close();
    ASSERT_TRUE(windowGone());
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.scriptsDone() == 1; }, 15000));
    EXPECT_EQ(server.commands(), (Commands{"USER taro", "QUIT"}));

    window = m_command.run();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->receiveThread()->isRunning());
    ASSERT_TRUE(windowGone());
    EXPECT_EQ(server.commands().size(), 2u + 4u);
}

TEST_F(ReceiveWindow, ConnectFailuresAndMissingAccountsAreShown)
{
    // Nothing listens on the port: the refusal's text, and the window stays.
    account(1);
    ReceiveDialog* window = m_command.run();
    ASSERT_TRUE(downloadOver());
    EXPECT_EQ(window->errors(),
              std::vector<std::string>{sj("接続できませんでした。接続が拒否されました (エラー 10061)")});
    EXPECT_EQ(window->abortButton()->text(), QString::fromUtf8("閉じる"));

    // No server name: no address to connect to.
    MailAccountStore store;
    MailAccount a = store.read(1);
    a.popServer.clear();
    store.write(1, a);
    m_command.run();
    ASSERT_TRUE(downloadOver());
    EXPECT_EQ(window->errors().back(), sj("ホスト アドレスが無効です。"));

    // No socket to be had: the process may open no further file.
    {
        const int lowestFree = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ASSERT_GE(lowestFree, 0);
        ::close(lowestFree);
        rlimit before{};
        ::getrlimit(RLIMIT_NOFILE, &before);
        rlimit tight = before;
        tight.rlim_cur = static_cast<rlim_t>(lowestFree);
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
        m_command.run();
        ::setrlimit(RLIMIT_NOFILE, &before);
    }
    ASSERT_EQ(m_boxes.calls().size(), 1u);
    EXPECT_EQ(m_boxes.calls()[0].text, "Socket creation failed");
    EXPECT_FALSE(window->downloading());

    // No account at all.
    store.setCount(0);
    EXPECT_EQ(m_command.run(), window);
    ASSERT_EQ(m_boxes.calls().size(), 2u);
    EXPECT_EQ(m_boxes.calls()[1].text, sj("サーバー情報がありません"));
    EXPECT_EQ(window->errors().size(), 2u);
}

// A system error reaches the error list as words with its number after them, never as a bare number.
TEST(ConnectErrorText, SystemErrorsReadAsWordsWithTheirNumber)
{
    using platform::AsyncSocket;
    const std::pair<int, const char*> errors[] = {
        {AsyncSocket::wsaErrorFromErrno(ECONNREFUSED), "接続できませんでした。接続が拒否されました (エラー 10061)"},
        {AsyncSocket::wsaErrorFromErrno(ETIMEDOUT),
         "接続できませんでした。時間切れです。サーバーが応答しません (エラー 10060)"},
        {AsyncSocket::wsaErrorFromErrno(EHOSTUNREACH), "接続できませんでした。ホストに到達できません (エラー 10065)"},
        {AsyncSocket::wsaErrorFromErrno(ENETUNREACH),
         "接続できませんでした。ネットワークに到達できません (エラー 10051)"},
        {AsyncSocket::wsaErrorFromErrno(ECONNRESET), "接続できませんでした。接続がリセットされました (エラー 10054)"},
        {AsyncSocket::wsaErrorFromErrno(EACCES), "接続できませんでした。接続が許可されていません (エラー 10013)"},
        {platform::WSAHOST_NOT_FOUND, "接続できませんでした。サーバー名が見つかりません (エラー 11001)"},
        {platform::WSATRY_AGAIN, "接続できませんでした。サーバー名を調べられません (エラー 11002)"},
        {platform::WSAEADDRINUSE, "接続できませんでした。指定したアドレスは使用中です (エラー 10048)"},
        {platform::WSAEINVAL, "接続できませんでした。ソケットは既にアドレスにバインドされています (エラー 10022)"},
        {12345, "接続できませんでした。予期しないエラーです (エラー 12345)"},
    };
    for (const auto& [error, textValue] : errors)
        EXPECT_EQ(orvalink::mail::connectErrorText(error), sj(textValue)) << error;
}

} // namespace

} // namespace orvalink::mail
