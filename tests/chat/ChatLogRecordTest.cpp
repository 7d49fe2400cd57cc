// Log records are whole: a file left with a torn record gets the next record on a line of its own,
// and a write that stops short (here: the file size limit, as a full disk would) leaves nothing of
// its record behind.
#include "chat/ChatTestSupport.h"
#include "chat/ProfileLogEnvironment.h"
#include "chat/core/ChatLog.h"

#include <fstream>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

namespace orvalink::chat {

namespace {

class LogRecords : public ::testing::Test {
protected:
    LogRecords()
    {
        auto& p = platform::Profile::application();
        p.writeInt("NetMsg Entry", "Log YesNo", 1);
        p.writeString("NetMsg Entry", "Log Folder", sandbox.path());
    }
    std::string pathOf(const std::string& group) const
    {
        return ChatLog::fileName(sandbox.path(), group, std::time(nullptr));
    }
    static void write(const std::string& path, const std::string& bytes)
    {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    // The records of a log: each label line with its time cut off, then the text line.
    static std::string withoutTimes(std::string log)
    {
        for (std::size_t at = log.find("  20"); at != std::string::npos; at = log.find("  20", at))
            log.erase(at, 22);
        return log;
    }
    ProfileSandbox sandbox;
};

TEST_F(LogRecords, ANewRecordNeverRunsOnFromATornOne)
{
    struct Case {
        std::string before; // what an earlier run left in the file
        std::string after;  // the file once one record is added (times cut off)
    };
    const std::vector<Case> cases = {
        {"", "From: a\r\nhello\r\n"},
        {"From: x\r\nwhole\r\n", "From: x\r\nwhole\r\nFrom: a\r\nhello\r\n"},
        {"From: x\r\nhalf a rec", "From: x\r\nhalf a rec\r\nFrom: a\r\nhello\r\n"},
        {"From: x\r\nends in CR\r", "From: x\r\nends in CR\r\r\nFrom: a\r\nhello\r\n"},
        {"From: x\r\nends in LF\n", "From: x\r\nends in LF\n\r\nFrom: a\r\nhello\r\n"},
        {"x", "x\r\nFrom: a\r\nhello\r\n"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before);
        const std::string group = "G" + std::to_string(n++);
        if (!c.before.empty())
            write(pathOf(group), c.before);
        {
            ChatLog log(ProfileLogEnvironment::application());
            log.log(group, "From: a", "hello");
        }
        EXPECT_EQ(withoutTimes(readFile(pathOf(group))), c.after);
    }
}

TEST_F(LogRecords, AWriteThatStopsShortLeavesNothingAndTheNextRecordIsWhole)
{
    ChatLog log(ProfileLogEnvironment::application());
    log.log("G", "From: a", "first");
    const std::string path = log.path();
    ASSERT_FALSE(path.empty());
    const std::string first = readFile(path);

    // A record larger than what the file may still grow by: the kernel writes part of it.
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = first.size() + 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    platform::MessageBoxRecorder boxes;
    log.log("G", "From: a", std::string(20000, 'y'));
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(readFile(path), first);
    QCoreApplication::processEvents();
    EXPECT_EQ(boxes.calls().size(), 1u); // the user hears of the lost record

    log.log("G", "From: a", "after");
    EXPECT_EQ(withoutTimes(readFile(path)), "From: a\r\nfirst\r\nFrom: a\r\nafter\r\n");
}

} // namespace

} // namespace orvalink::chat
