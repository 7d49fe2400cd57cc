// Scripted POP3 servers over a real socket in the test's private network, driving the engine and
// the filer together as the receive window does: replies trickled one byte per send, a message
// and the next replies sent at once, and a connection dropped in the middle of a message.
#include "mail/ReceiveTestSupport.h"
#include "mail/engine/Pop3Texts.h"
#include "mail/engine/ReceivedMailFiler.h"
#include "support/MailServers.h"
#include "support/Pop3Driver.h"
#include "support/PrivateNetwork.h"
#include "support/TestFiles.h"

#include <arpa/inet.h>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <thread>

namespace orvalink::mail {

using namespace orvalink;

namespace {

constexpr int kPort = 1110;

// Answers each command line from a table; a missing entry closes the connection, and so does a
// reply ending in "<close>" after its bytes before that mark. With `trickle` every byte goes out in a send of its own.
class ScriptedServer {
public:
    ScriptedServer(std::map<std::string, std::string> replies, bool trickle)
        : m_replies(std::move(replies)), m_trickle(trickle)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(kPort);
        ::inet_pton(AF_INET, test::kPrivateHostAddress, &at.sin_addr);
        EXPECT_EQ(::bind(m_listener, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
        EXPECT_EQ(::listen(m_listener, 1), 0);
        m_thread = std::thread([this] { serve(); });
    }
    ~ScriptedServer()
    {
        m_thread.join();
        ::close(m_listener);
    }

private:
    void send(int fd, const std::string& bytes)
    {
        if (!m_trickle) {
            ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            return;
        }
        for (const char c : bytes)
            ::send(fd, &c, 1, MSG_NOSIGNAL);
    }

    void serve()
    {
        const int fd = ::accept(m_listener, nullptr, nullptr);
        if (fd < 0)
            return;
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        send(fd, m_replies["<greeting>"]);
        std::string pending;
        char buffer[512];
        for (;;) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            pending.append(buffer, static_cast<std::size_t>(n));
            std::size_t lf;
            bool closed = false;
            while ((lf = pending.find("\r\n")) != std::string::npos) {
                const std::string command = pending.substr(0, lf);
                pending.erase(0, lf + 2);
                const auto reply = m_replies.find(command);
                if (reply == m_replies.end()) {
                    closed = true;
                    break;
                }
                const std::size_t close = reply->second.find("<close>");
                send(fd, reply->second.substr(0, close));
                if (command == "QUIT" || close != std::string::npos) {
                    closed = true;
                    break;
                }
            }
            if (closed)
                break;
        }
        ::close(fd);
    }

    std::map<std::string, std::string> m_replies;
    bool m_trickle;
    int m_listener = -1;
    std::thread m_thread;
};

std::map<std::string, std::string> twoMessages()
{
    return {
        {"<greeting>", "+OK hello\r\n"},
        {"USER taro", "+OK\r\n"},
        {"PASS pw", "+OK\r\n"},
        {"STAT", "+OK 2 60\r\n"},
        {"UIDL", "+OK\r\n1 u1\r\n2 u2\r\n.\r\n"},
        {"LIST 1", "+OK 1 30\r\n"},
        {"RETR 1", "+OK\r\nSubject: one\r\n\r\n..dotted\r\n.\r\n"},
        {"LIST 2", "+OK 2 30\r\n"},
        {"RETR 2", "+OK\r\nSubject: two\r\n\r\nsecond\r\n.\r\n"},
        {"QUIT", "+OK bye\r\n"},
    };
}

struct Download {
    test::Pop3Run run;
    mail::Pop3Outcome outcome;
    std::vector<std::string> stored;
    std::set<std::string> recorded;
};

Download download(const test::TempDir& dir, std::map<std::string, std::string> replies, bool trickle,
                  std::size_t readSize = 65536)
{
    ScriptedServer server(std::move(replies), trickle);
    mail::UidlRecord record(dir.path(), test::kPrivateHostAddress, "taro");
    mail::ReceivedMailFiler filer(dir.path(), &record);
    mail::Pop3Engine engine({"taro", "pw"}, filer, record.load());
    Download d;
    d.run = test::drivePop3(test::connectTcp(test::kPrivateHostAddress, kPort), engine, 20000, readSize);
    d.outcome = engine.outcome();
    d.stored = receivedMessages(dir.path());
    d.recorded = record.load();
    return d;
}

TEST(Pop3OverSocket, TrickledAndBunchedRepliesFileTheSameMessages)
{
    ORVALINK_REQUIRE_PRIVATE_NETWORK();
    const std::vector<std::string> expected = {"Subject: one\r\n\r\n.dotted\r\n", "Subject: two\r\n\r\nsecond\r\n"};
    for (const bool trickle : {true, false}) {
        test::TempDir dir("orvalink-pop3-socket");
        const Download d = download(dir, twoMessages(), trickle, trickle ? 1 : 65536);
        EXPECT_EQ(d.outcome, mail::Pop3Outcome::Done) << trickle;
        EXPECT_EQ(d.run.sent,
                  "USER taro\r\nPASS pw\r\nSTAT\r\nUIDL\r\nLIST 1\r\nRETR 1\r\nLIST 2\r\nRETR 2\r\nQUIT\r\n");
        EXPECT_EQ(d.stored, expected) << trickle;
        EXPECT_EQ(d.recorded, (std::set<std::string>{"u1", "u2"}));
    }
}

TEST(Pop3OverSocket, ConnectionDroppedInAMessageFilesNothingOfIt)
{
    ORVALINK_REQUIRE_PRIVATE_NETWORK();
    test::TempDir dir("orvalink-pop3-socket");
    auto replies = twoMessages();
    replies["RETR 2"] = "+OK\r\nSubject: two\r\n\r\nhalf of it<close>";
    const Download d = download(dir, replies, false);
    EXPECT_EQ(d.outcome, mail::Pop3Outcome::Failed);
    EXPECT_EQ(d.stored, std::vector<std::string>{"Subject: one\r\n\r\n.dotted\r\n"});
    EXPECT_EQ(d.recorded, std::set<std::string>{"u1"});
    char dropped[512];
    std::snprintf(dropped, sizeof dropped, mail::texts::kDroppedInMessage, 2);
    EXPECT_EQ(d.run.errors, std::vector<std::string>{dropped});
    // No message file of the abandoned message is left behind.
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().string().find(".qel"), std::string::npos) << entry.path();
}

} // namespace

} // namespace orvalink::mail
