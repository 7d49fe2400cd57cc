// The whole program killed with SIGKILL while it files a long download from a real POP3 server
// (dovecot in the program's host namespace), three times at different points, then left to finish:
// every message is in 受信したメール exactly once and whole, whatever the kills cut.

#include "app/ProgramOnLan.h"
#include "store/MailStore.h"

#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>

namespace orvalink::app {

namespace {

constexpr int kMessages = 400;

// Messages of one length, told apart by their subject; about 3 KB so that filing them takes long
// enough to be killed at a chosen point.
std::string crashMessage(int n)
{
    char subject[32];
    std::snprintf(subject, sizeof subject, "crash %03d", n);
    std::string m = "From: hanako@example.jp\r\nTo: taro@example.jp\r\nSubject: " + std::string(subject) + "\r\n\r\n";
    for (int line = 0; line < 40; ++line)
        m += std::string(70, static_cast<char>('a' + (n + line) % 26)) + "\r\n";
    return m;
}

class MailCrashOnLan : public ChatLanTest {
protected:
    static constexpr const char* kPort = "1110";

    void SetUp() override
    {
        const fs::path dir = folder.host(1);
        mailDir = writeMailAccount(dir, kPort, "secret");
        startHosts(1);
        if (IsSkipped())
            return;

        ORVALINK_START_POP3(pop3, *lan, 1, lan->address(1), kPort, dir);
        std::vector<std::string> messages;
        for (int n = 1; n <= kMessages; ++n)
            messages.push_back(crashMessage(n));
        ASSERT_TRUE(pop3.add(messages, folder.root(), 60000));
    }

    std::string folderPath() const { return (mailDir / "受信したメール").string(); }

    std::size_t filedCount() const
    {
        const auto listing = store::readFolderIndex(folderPath());
        return listing ? listing->entries.size() : 0;
    }

    void restartProgram()
    {
        auto program = programOn(hosts[0].dir);
        program.env.push_back({"ORVALINK_AUTOMATION", hosts[0].fifo().string()});
        hosts[0].pid = lan->start(1, program);
        ASSERT_GT(hosts[0].pid, 0);
    }

    fs::path mailDir;
    LanPop3Server pop3;
};

TEST_F(MailCrashOnLan, KilledThreeTimesWhileFilingThenEveryMessageIsFiledOnceAndWhole)
{
    std::vector<std::size_t> killedAt;
    for (const std::size_t point : {std::size_t{40}, std::size_t{170}, std::size_t{300}}) {
        ASSERT_TRUE(hosts[0].command("command 32771"));
        ASSERT_TRUE(waitUntil([&] { return filedCount() >= point; }, 120000)) << point;
        lan->signal(hosts[0].pid, SIGKILL);
        ASSERT_TRUE(lan->waitExit(hosts[0].pid, 10000));
        killedAt.push_back(filedCount());
        restartProgram();
    }
    ASSERT_TRUE(hosts[0].command("command 32771"));
    std::vector<std::string> d;
    ASSERT_TRUE(hosts[0].dumpHas({"recvended 1", "recvwindow closed"}, &d)) << joinLines(d);
    // Each kill came while the download still had messages to file.
    for (const std::size_t filed : killedAt)
        EXPECT_LT(filed, static_cast<std::size_t>(kMessages));
    EXPECT_LT(killedAt.front(), killedAt.back());
    std::printf("killed with %zu, %zu and %zu messages filed\n", killedAt[0], killedAt[1], killedAt[2]);

    const auto listing = store::readFolderIndex(folderPath());
    ASSERT_TRUE(listing);
    EXPECT_TRUE(listing->unreadable.empty());
    std::map<std::string, int> seen;
    for (const store::IndexEntry& e : listing->entries) {
        const std::optional<std::string> text = store::readFolderMessage(folderPath(), e);
        ASSERT_TRUE(text) << e.record.subject;
        ++seen[e.record.subject];
        const int n = std::atoi(e.record.subject.c_str() + 6);
        EXPECT_EQ(*text, crashMessage(n)) << e.record.subject;
    }
    EXPECT_EQ(listing->entries.size(), static_cast<std::size_t>(kMessages));
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kMessages));
    for (const auto& [subject, count] : seen)
        EXPECT_EQ(count, 1) << subject;
    EXPECT_EQ(readFile(hosts[0].dir / "messageboxes.log"), "");
}

} // namespace

} // namespace orvalink::app
