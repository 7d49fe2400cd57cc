#include "chat/core/ChatLog.h"

#include "chat/ChatTestSupport.h"
#include "chat/ProfileLogEnvironment.h"
#include "platform/text/Cp932.h"

#include <QCoreApplication>
#include <QTest>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace orvalink::chat {

using orvalink::test::ScopedTimeZone;
namespace fs = std::filesystem;

namespace {

// 2026-12-08 23:59:59 UTC: records around it show that midnight moves neither file nor record.
constexpr std::time_t kLastSecondOfADay = 1796774399;

class ChatLogFiles : public ::testing::Test {
protected:
    // Reports of logs that could not be written are posted: they reach the recorder here, never a
    // real dialog in a later test.
    ~ChatLogFiles() override { QCoreApplication::processEvents(); }

    void enable(const std::string& folder)
    {
        auto& p = platform::Profile::application();
        p.writeInt("NetMsg Entry", "Log YesNo", 1);
        p.writeString("NetMsg Entry", "Log Folder", folder);
    }
    ProfileSandbox sandbox;
    platform::MessageBoxRecorder boxes;
};

TEST_F(ChatLogFiles, NothingIsWrittenWhileLoggingIsOff)
{
    platform::Profile::application().writeString("NetMsg Entry", "Log Folder", sandbox.path());
    ChatLog log(ProfileLogEnvironment::application());
    log.log("A", "From: x", "text");
    EXPECT_FALSE(log.isOpen());
    for (const auto& e : fs::recursive_directory_iterator(sandbox.path()))
        EXPECT_NE(e.path().extension(), ".log") << e.path();
}

TEST_F(ChatLogFiles, RecordIsLabelWithTimeThenTextInCodePage932WithCrLf)
{
    enable(sandbox.path());
    ScopedTimeZone tz("UTC0");
    const std::string group = platform::utf8ToCp932("グループ１");
    const std::string joined = platform::utf8ToCp932("太郎さんが参加しました");
    std::time_t now = kLastSecondOfADay;
    ChatLog log(ProfileLogEnvironment::application());
    log.setClock([&] { return now; });
    log.log(group, platform::utf8ToCp932("From: 太郎"), joined);
    now += 2;
    log.log(group, "To: me", "line one\r\nline two");

    // The file is named for the day of the first record; the second, after midnight, joins it.
    EXPECT_EQ(fs::path(log.path()).filename().string(), "グループ１_20261208.log");
    EXPECT_EQ(readFile(log.path()), platform::utf8ToCp932("From: 太郎") + "  2026/12/08  23:59:59\r\n" + joined +
                                        "\r\nTo: me  2026/12/09  00:00:01\r\nline one\r\nline two\r\n");
}

TEST_F(ChatLogFiles, TwoGroupsWriteTwoFilesAndRunsOfOneDayAppend)
{
    enable(sandbox.path());
    std::time_t now = kLastSecondOfADay - 60;
    {
        ChatLog a(ProfileLogEnvironment::application()), b(ProfileLogEnvironment::application());
        a.setClock([&] { return now; });
        b.setClock([&] { return now; });
        a.log("A", "From: x", "1");
        b.log("B", "From: y", "2");
        EXPECT_NE(a.path(), b.path());
        EXPECT_EQ(fs::path(a.path()).parent_path(), fs::path(b.path()).parent_path());
    }
    now += 30;
    ChatLog again(ProfileLogEnvironment::application());
    again.setClock([&] { return now; });
    again.log("A", "From: x", "3");
    const std::string bytes = readFile(again.path());
    EXPECT_NE(bytes.find("\r\n1\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("\r\n3\r\n"), std::string::npos);
}

TEST_F(ChatLogFiles, UnwritableTargetsSkipLoggingAndTryAgainLater)
{
    // No folder set, a folder that does not exist: nothing is written anywhere, nothing breaks.
    enable("");
    ChatLog log(ProfileLogEnvironment::application());
    log.log("A", "From: x", "lost");
    EXPECT_FALSE(log.isOpen());
    const std::string missing = sandbox.path() + "/missing";
    enable(missing);
    log.log("A", "From: x", "lost too");
    EXPECT_FALSE(log.isOpen());
    EXPECT_FALSE(fs::exists(missing));
    // Once the folder exists, the next record opens the file.
    fs::create_directory(missing);
    log.log("A", "From: x", "kept");
    ASSERT_TRUE(log.isOpen());
    EXPECT_EQ(readFile(log.path()).find("lost"), std::string::npos);
}

TEST_F(ChatLogFiles, GroupNamesThatAreNoFileNamesStayInTheLogFolder)
{
    enable(sandbox.path());
    const struct {
        std::string group;
        std::string fileStart;
    } cases[] = {{"a/b", "a_b_"}, {"../x", ".._x_"}, {"..", ".._"}, {std::string("n\0ul", 4), "n_ul_"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fileStart);
        ChatLog log(ProfileLogEnvironment::application());
        log.log(c.group, "From: x", "t");
        ASSERT_TRUE(log.isOpen());
        EXPECT_EQ(fs::path(log.path()).parent_path(), fs::path(sandbox.path()));
        EXPECT_EQ(fs::path(log.path()).filename().string().substr(0, c.fileStart.size()), c.fileStart);
    }
}

TEST_F(ChatLogFiles, RecordsFromTwoThreadsNeverInterleave)
{
    enable(sandbox.path());
    ChatLog log(ProfileLogEnvironment::application());
    auto writer = [&](const char* label, const char* body) {
        for (int i = 0; i < 500; ++i)
            log.log("A", label, body);
    };
    std::thread t1(writer, "From: a", "aaaa\r\naaaa");
    std::thread t2(writer, "To: b", "bbbb\r\nbbbb");
    t1.join();
    t2.join();
    std::istringstream in(readFile(log.path()));
    std::string line;
    int records = 0;
    while (std::getline(in, line)) {
        std::string l2, l3;
        std::getline(in, l2);
        std::getline(in, l3);
        const char who = line[0] == 'F' ? 'a' : 'b';
        ASSERT_EQ(l2, std::string(4, who) + "\r");
        ASSERT_EQ(l3, std::string(4, who) + "\r");
        ++records;
    }
    EXPECT_EQ(records, 1000);
}

// "_YYYYMMDD.log": the local day of the first write, the dates worked out here by hand.
TEST(ChatLogFileName, EndsWithTheLocalDayOfTheFirstWrite)
{
    const struct {
        const char* tz;
        std::time_t t;
        const char* suffix;
    } cases[] = {
        {"UTC0", 0, "_19700101.log"},           {"UTC0", 1700000000, "_20231114.log"}, // 2023-11-14 22:13:20 UTC
        {"JST-9", 1700000000, "_20231115.log"},                                        // the next morning in Japan
        {"UTC0", 951782399, "_20000228.log"},  // the last second of 28 February 2000
        {"UTC0", 951782400, "_20000229.log"},  // a leap day
        {"EST5", 1704085199, "_20231231.log"}, // 2024-01-01 04:59:59 UTC is still the old year there
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.suffix);
        ScopedTimeZone tz(c.tz);
        EXPECT_EQ(ChatLog::fileName("/logs", "A", c.t), std::string("/logs/A") + c.suffix);
    }
}

TEST_F(ChatLogFiles, LiveFileIsNamedForTheDayOfItsFirstRecordAndPrivate)
{
    enable(sandbox.path());
    ScopedTimeZone tz("UTC0");
    const mode_t oldMask = ::umask(0);
    ChatLog log(ProfileLogEnvironment::application());
    log.setClock([] { return kLastSecondOfADay; });
    log.log("A", "From: x", "t");
    ::umask(oldMask);
    ASSERT_TRUE(log.isOpen());
    EXPECT_EQ(fs::path(log.path()).filename().string(), "A_20261208.log");
    struct stat st {};
    ASSERT_EQ(::stat(log.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << std::oct << (st.st_mode & 07777);
}

// Logging on but nothing can be written: the user hears of it once, not once per record and not
// once per group, and again only after a record has reached the folder in between.
TEST_F(ChatLogFiles, LogThatCannotBeWrittenIsReportedOnce)
{
    const std::string missing = sandbox.path() + "/missing";
    const std::string full = sandbox.path() + "/full";
    fs::create_directory(full);
    // A log file that takes nothing: every write fails as on a full disk.
    fs::create_symlink("/dev/full", ChatLog::fileName(full, "A", kLastSecondOfADay));
    const auto clock = [] { return kLastSecondOfADay; };
    const struct {
        std::string folder;
        std::string named; // what the report names
    } cases[] = {{missing, missing + "/A_"}, {full, full + "/A_"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        const std::size_t before = boxes.calls().size();
        enable(c.folder);
        ChatLog a(ProfileLogEnvironment::application()), b(ProfileLogEnvironment::application());
        a.setClock(clock);
        b.setClock(clock);
        for (int i = 0; i < 5; ++i) {
            a.log("A", "From: x", "lost " + std::to_string(i));
            b.log("A", "To: me", "lost too");
        }
        QTest::qWait(50);
        QCoreApplication::processEvents();
        const auto calls = boxes.calls();
        ASSERT_EQ(calls.size(), before + 1);
        EXPECT_NE(calls.back().text.find(c.named), std::string::npos) << calls.back().text;
        EXPECT_EQ(calls.back().caption, "Orvalink");
    }
    // Once a record gets through, a later failure is news again.
    enable(missing);
    fs::create_directory(missing);
    {
        ChatLog ok(ProfileLogEnvironment::application());
        ok.setClock(clock);
        ok.log("A", "From: x", "kept");
        ASSERT_TRUE(ok.isOpen());
    }
    fs::remove_all(missing);
    const std::size_t before = boxes.calls().size();
    ChatLog again(ProfileLogEnvironment::application());
    again.setClock(clock);
    again.log("A", "From: x", "lost");
    again.log("A", "From: x", "lost");
    QTest::qWait(50);
    QCoreApplication::processEvents();
    EXPECT_EQ(boxes.calls().size(), before + 1);
}

} // namespace

} // namespace orvalink::chat
