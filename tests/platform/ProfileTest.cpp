#include "platform/Profile.h"

#include "support/TestFiles.h"

#include <atomic>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace orvalink::platform {

using orvalink::test::readFile;
using orvalink::test::ScopedEnv;
using orvalink::test::TempDir;
using orvalink::test::writeFile;

namespace {

// "グループ１" and half-width "ｿｹｯﾄ" in code page 932.
const std::string kGroupOne = "\x83\x4F\x83\x8B\x81\x5B\x83\x76\x82\x50";
const std::string kHalfWidthSocket = "\xBF\xB9\xAF\xC4";

} // namespace

TEST(Profile, ValuesRoundTripByteForByte)
{
    TempDir dir;
    std::string allBytes;
    for (int c = 0; c < 256; ++c)
        allBytes += static_cast<char>(c);
    const std::string cases[] = {
        kGroupOne,
        kHalfWidthSocket,
        "a=b;c#d\\e",
        ";starts with a semicolon",
        "#hash",
        "[bracket]",
        "  spaces around  ",
        "line1\nline2\r\n",
        "\\x41 is not an escape here",
        "\\",
        std::string("nul\0inside", 10),
        "\x82",                 // a lead byte with nothing after it
        "\x82\x5C\x5C",         // a lead byte whose second byte is "\", then a real "\"
        "\x81\x7F",             // lead byte with a trail byte that is not valid
        "\x80\xA0\xFD\xFE\xFF", // single bytes with no character
        "\x87\x90",             // NEC duplicate of a character that maps elsewhere on the way back
        allBytes,
        "",
    };
    Profile p(dir.file("Orvalink.conf"));
    int n = 0;
    for (const auto& value : cases) {
        const std::string key = "Key" + std::to_string(++n);
        ASSERT_TRUE(p.writeString("Section", key, value));
        Profile fresh(dir.file("Orvalink.conf"));
        EXPECT_EQ(fresh.getString("Section", key, "missing"), value) << "case " << n;
    }
}

TEST(Profile, NamesRoundTripByteForByte)
{
    TempDir dir;
    const std::string names[] = {kGroupOne, "a=b", "[x]", ";k", "#k", " lead", "trail ", "back\\slash", "\x82\x0A\xFF"};
    Profile p(dir.file("Orvalink.conf"));
    for (const auto& name : names) {
        ASSERT_TRUE(p.writeString(name, name, "v:" + name));
        Profile fresh(dir.file("Orvalink.conf"));
        EXPECT_EQ(fresh.getString(name, name), "v:" + name);
        const auto entries = fresh.entries(name);
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].first, name);
    }
}

TEST(Profile, JapaneseIsStoredAsReadableUtf8)
{
    TempDir dir;
    Profile p(dir.file("Orvalink.conf"));
    ASSERT_TRUE(p.writeString("NetMsg Entry", "User PortName1", kGroupOne));
    ASSERT_TRUE(p.writeString("NetMsg Entry", "Label", kHalfWidthSocket));
    const std::string onDisk = readFile(p.filePath());
    EXPECT_NE(onDisk.find("[NetMsg Entry]\n"), std::string::npos);
    EXPECT_NE(onDisk.find("User PortName1=グループ１\n"), std::string::npos);
    EXPECT_NE(onDisk.find("Label=ｿｹｯﾄ\n"), std::string::npos);
}

TEST(Profile, EncodingEscapesOnlyWhatMustBe)
{
    struct Case {
        std::string bytes;
        Profile::Field field;
        std::string expected;
    };
    const Case cases[] = {
        {"plain text", Profile::Field::Value, "plain text"},
        {"a=b", Profile::Field::Value, "a=b"},
        {"a=b", Profile::Field::Key, "a\\x3Db"},
        {";x", Profile::Field::Key, "\\x3Bx"},
        {";x", Profile::Field::Value, ";x"},
        {"a]b", Profile::Field::Section, "a\\x5Db"},
        {" x ", Profile::Field::Value, "\\x20x\\x20"},
        {"a\\b", Profile::Field::Value, "a\\\\b"},
        {"a\nb\rc\td", Profile::Field::Value, "a\\nb\\rc\\td"},
        {"\x82\x50", Profile::Field::Value, "１"},
        {"\xFF", Profile::Field::Value, "\\xFF"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Profile::encodeField(c.bytes, c.field), c.expected) << c.bytes;
        EXPECT_EQ(Profile::decodeField(c.expected), c.bytes);
    }
}

TEST(Profile, MissingValuesGiveTheDefault)
{
    TempDir dir;
    Profile p(dir.file("none/Orvalink.conf"));
    EXPECT_EQ(p.getInt("NetMsg Entry", "User PortCnt", 0), 0);
    EXPECT_EQ(p.getInt("MainWindow Entry", "Right", 300), 300);
    EXPECT_EQ(p.getString("NetMsg Entry", "User Port1"), "");
    EXPECT_EQ(p.getString("NetMsg Entry", "User Port1", "dflt"), "dflt");
    EXPECT_FALSE(p.contains("NetMsg Entry", "User Port1"));
    EXPECT_FALSE(std::filesystem::exists(p.filePath())) << "reading must not create the file";
    ASSERT_TRUE(p.writeInt("NetMsg Entry", "User PortCnt", 1));
    EXPECT_EQ(p.getInt("NetMsg Entry", "Other", -7), -7);
    EXPECT_EQ(p.getInt("Other Entry", "User PortCnt", 5), 5);
}

TEST(Profile, IntegersReadTheLeadingNumber)
{
    struct Case {
        const char* text;
        int expected;
    };
    const Case cases[] = {
        {"12121", 12121},
        {"-5", -5},
        {"+8", 8},
        {"  42", 42},
        {"12abc", 12},
        {"abc", 0},
        {"", 0},
        {"-", 0},
        {"0x10", 0},
        {"2147483647", INT_MAX},
        {"99999999999999999999", INT_MAX},
        {"-2147483648", INT_MIN},
        {"-99999999999", INT_MIN},
    };
    TempDir dir;
    Profile p(dir.file("Orvalink.conf"));
    for (const auto& c : cases) {
        EXPECT_EQ(Profile::parseInt(c.text), c.expected) << '"' << c.text << '"';
        ASSERT_TRUE(p.writeString("S", "k", c.text));
        EXPECT_EQ(p.getInt("S", "k", 777), c.expected) << "a present value never reads as the default";
    }
    ASSERT_TRUE(p.writeInt("S", "n", -123));
    EXPECT_EQ(p.getString("S", "n"), "-123");
}

TEST(Profile, NamesMatchWithoutAsciiCaseButDoubleByteCharactersExactly)
{
    TempDir dir;
    Profile p(dir.file("Orvalink.conf"));
    ASSERT_TRUE(p.writeInt("MainWindow Entry", "top", 10));
    EXPECT_EQ(p.getInt("mainwindow entry", "TOP", 0), 10);
    ASSERT_TRUE(p.writeInt("MainWindow Entry", "Top", 11));
    const auto e = p.entries("MainWindow Entry");
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].first, "top");
    EXPECT_EQ(e[0].second, "11");
    // The second bytes of these double-byte codes are 'a' and 'A': folding them would merge two
    // different names.
    ASSERT_TRUE(p.writeString("S", "\x82\x61", "one"));
    ASSERT_TRUE(p.writeString("S", "\x82\x41", "two"));
    EXPECT_EQ(p.getString("S", "\x82\x61"), "one");
    EXPECT_EQ(p.getString("S", "\x82\x41"), "two");
}

TEST(Profile, RemoveKey)
{
    TempDir dir;
    Profile p(dir.file("Orvalink.conf"));
    ASSERT_TRUE(p.writeString("S", "a", "1"));
    ASSERT_TRUE(p.writeString("S", "b", "2"));
    EXPECT_TRUE(p.removeKey("S", "a"));
    EXPECT_FALSE(p.contains("S", "a"));
    EXPECT_EQ(p.getString("S", "b"), "2");
    EXPECT_TRUE(p.removeKey("S", "nothing"));
    EXPECT_TRUE(p.removeKey("S", "b"));
    EXPECT_EQ(readFile(p.filePath()).find("[S]"), std::string::npos) << "an emptied section is dropped";
}

TEST(Profile, EmptyNamesAreRefused)
{
    TempDir dir;
    Profile p(dir.file("Orvalink.conf"));
    EXPECT_FALSE(p.writeString("", "k", "v"));
    EXPECT_FALSE(p.writeString("S", "", "v"));
}

TEST(Profile, TwoObjectsOnOneFileSeeEachOthersWrites)
{
    TempDir dir;
    Profile a(dir.file("Orvalink.conf"));
    Profile b(dir.file("Orvalink.conf"));
    ASSERT_TRUE(a.writeInt("S", "x", 1));
    EXPECT_EQ(b.getInt("S", "x", 0), 1);
    ASSERT_TRUE(b.writeInt("S", "y", 2));
    EXPECT_EQ(a.getInt("S", "y", 0), 2);
    // a's next write starts from the file, so b's value survives it.
    ASSERT_TRUE(a.writeInt("S", "z", 3));
    EXPECT_EQ(b.getInt("S", "y", 0), 2);
    EXPECT_EQ(b.getInt("S", "z", 0), 3);
}

TEST(Profile, AHandEditIsPickedUp)
{
    TempDir dir;
    Profile p(dir.file("Orvalink.conf"));
    ASSERT_TRUE(p.writeInt("NetMsg Entry", "User PortCnt", 1));
    EXPECT_EQ(p.getInt("NetMsg Entry", "User PortCnt", 0), 1);
    // Same size, written within the same second: the inode/ns stamp still tells them apart.
    writeFile(p.filePath(), "[NetMsg Entry]\nUser PortCnt=2\n");
    EXPECT_EQ(p.getInt("NetMsg Entry", "User PortCnt", 0), 2);
    writeFile(p.filePath(), "\xEF\xBB\xBF[NetMsg Entry]\r\n  User PortName1 = グループ１  \r\n");
    EXPECT_EQ(p.getString("NetMsg Entry", "User PortName1"), kGroupOne);
}

TEST(Profile, ConcurrentWritersLoseNothing)
{
    TempDir dir;
    constexpr int kThreads = 4;
    constexpr int kWrites = 25;
    // Half the threads share one object, the others each have their own on the same file.
    Profile shared(dir.file("Orvalink.conf"));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            Profile own(dir.file("Orvalink.conf"));
            Profile& p = t % 2 == 0 ? shared : own;
            for (int i = 0; i < kWrites; ++i)
                ASSERT_TRUE(p.writeInt("T" + std::to_string(t), "k" + std::to_string(i), t * 1000 + i));
        });
    }
    for (auto& th : threads)
        th.join();
    Profile check(dir.file("Orvalink.conf"));
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(check.entries("T" + std::to_string(t)).size(), static_cast<std::size_t>(kWrites));
        for (int i = 0; i < kWrites; ++i)
            EXPECT_EQ(check.getInt("T" + std::to_string(t), "k" + std::to_string(i), -1), t * 1000 + i);
    }
}

TEST(Profile, HandBrokenFileKeepsItsGoodLines)
{
    TempDir dir;
    const std::string path = dir.file("Orvalink.conf");
    std::string content = "orphan=before any section\n"
                          "[Good]\n"
                          "a=1\n"
                          "garbage line without equals\n"
                          "=empty key\n"
                          "; comment=not a key\n"
                          "\x01\x02\xFF\xFE binary junk  here\n"
                          "b=two\\\n"
                          "[Broken\n"
                          "lost=1\n"
                          "[]\n"
                          "lost2=1\n"
                          "[Good]\n"
                          "c=\\x4\n";
    content += "huge=" + std::string(4 * 1024 * 1024, 'h') + "\n";
    content += "[Other]\nd=4"; // no final newline
    content.insert(content.find("binary") + 13, 1, '\0');
    writeFile(path, content);

    Profile p(path);
    EXPECT_EQ(p.getString("Good", "a"), "1");
    EXPECT_EQ(p.getString("Good", "b"), "two\\") << "a lone backslash at the end stays one";
    EXPECT_EQ(p.getString("Good", "c"), "\\x4");
    EXPECT_EQ(p.getString("Good", "huge").size(), 4u * 1024 * 1024);
    EXPECT_EQ(p.getInt("Other", "d", 0), 4);
    EXPECT_FALSE(p.contains("Good", "lost"));
    EXPECT_FALSE(p.contains("Broken", "lost"));
    EXPECT_TRUE(p.entries("").empty());
    EXPECT_EQ(p.entries("Good").size(), 4u);

    // Writing keeps the good lines.
    ASSERT_TRUE(p.writeInt("Good", "e", 5));
    Profile again(path);
    EXPECT_EQ(again.getString("Good", "a"), "1");
    EXPECT_EQ(again.getInt("Other", "d", 0), 4);
    EXPECT_EQ(again.getInt("Good", "e", 0), 5);
}

TEST(Profile, FileIsReplacedAtomically)
{
    TempDir dir;
    Profile p(dir.file("Orvalink.conf"));
    ASSERT_TRUE(p.writeString("S", "big", std::string(256 * 1024, 'x')));
    std::atomic<bool> stop = false;
    std::atomic<int> torn = 0;
    std::thread reader([&] {
        while (!stop) {
            const std::string c = readFile(p.filePath());
            // Every complete version ends with the value's newline; a half-written file would not.
            if (c.empty() || c.back() != '\n')
                ++torn;
        }
    });
    for (int i = 0; i < 30; ++i)
        ASSERT_TRUE(p.writeString("S", "big", std::string(256 * 1024 + i * 1000, static_cast<char>('a' + i % 26))));
    stop = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
    // No temporary files are left behind.
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        const std::string name = e.path().filename().string();
        EXPECT_TRUE(name == "Orvalink.conf" || name == "Orvalink.conf.lock") << name;
    }
}

TEST(Profile, FailedWriteIsReportedAndLeavesNothingBehind)
{
    TempDir dir;
    const std::string path = dir.file("Orvalink.conf");
    Profile p(path);
    ASSERT_TRUE(p.writeInt("S", "a", 1));
    // Something that cannot be replaced by a rename (a non-empty folder) where the file was: this
    // fails even for root.
    std::filesystem::remove(path);
    std::filesystem::create_directories(path + "/keep");
    EXPECT_FALSE(p.writeInt("S", "a", 2));
    EXPECT_TRUE(std::filesystem::is_directory(path + "/keep"));
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        const std::string name = e.path().filename().string();
        EXPECT_TRUE(name == "Orvalink.conf" || name == "Orvalink.conf.lock") << name;
    }
    // A path whose folder cannot be made.
    Profile q(dir.file("Orvalink.conf.lock/sub/Orvalink.conf"));
    EXPECT_FALSE(q.writeInt("S", "a", 1));
    EXPECT_EQ(q.getInt("S", "a", -1), -1);
}

TEST(Profile, ApplicationStoreFollowsXdgConfigHome)
{
    TempDir dir;
    ScopedEnv configHome("XDG_CONFIG_HOME", dir.path());
    ScopedEnv home("HOME", dir.path());
    Profile::reopenApplication();
    EXPECT_EQ(Profile::application().filePath(), dir.path() + "/Orvalink/Orvalink.conf");
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() + "/Orvalink"));
    ASSERT_TRUE(Profile::application().writeInt("NetMsg Entry", "User PortCnt", 3));
    EXPECT_NE(readFile(dir.path() + "/Orvalink/Orvalink.conf").find("User PortCnt=3"), std::string::npos);

    ScopedEnv relative("XDG_CONFIG_HOME", "relative/is/ignored");
    EXPECT_EQ(Profile::configDirectory(), dir.path() + "/.config/Orvalink");
}

// Paths are file-system bytes, not code page 932 text: every path comes back exactly, whether or
// not code page 932 can hold its characters, and the ones that are UTF-8 stay readable in the file.
TEST(Profile, PathsRoundTripByteForByteAndStayReadable)
{
    TempDir dir;
    const struct {
        std::string path;
        std::string inFile; // the value as the file shows it
    } cases[] = {
        {"/home/me/ChatLog", "/home/me/ChatLog"},
        {"/home/café/ChatLog", "/home/café/ChatLog"},
        {"/home/Жанна/ChatLog", "/home/Жанна/ChatLog"},
        {"/home/한국어/ChatLog", "/home/한국어/ChatLog"},
        {"/tmp/logs 😀", "/tmp/logs 😀"},
        {"/home/ユーザ/ChatLog", "/home/ユーザ/ChatLog"},
        {"/srv/caf\xE9", "/srv/caf\\xE9"},             // a Latin-1 name: no UTF-8
        {"/srv/\xF0\x9F\x98", "/srv/\\xF0\\x9F\\x98"}, // a character cut short
        {"/srv/\xC0\xAF", "/srv/\\xC0\\xAF"},          // an overlong "/"
        {" lead/trail ", "\\x20lead/trail\\x20"},
        {"a\\b\nc", "a\\\\b\\nc"},
    };
    Profile p(dir.file("Orvalink.conf"));
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.inFile);
        const std::string key = "Folder" + std::to_string(++n);
        ASSERT_TRUE(p.writePath("S", key, c.path));
        // Another value written afterwards rewrites the file: the path must survive that too.
        ASSERT_TRUE(p.writeInt("S", "Other", n));
        Profile fresh(dir.file("Orvalink.conf"));
        EXPECT_EQ(fresh.getPath("S", key, "missing"), c.path);
        EXPECT_NE(readFile(p.filePath()).find(key + "=" + c.inFile + "\n"), std::string::npos);
    }
}

// What files of earlier versions hold keeps its meaning: a folder stored as text reads as the same
// path, and a value written by hand that code page 932 cannot hold is not lost when another value
// is written.
TEST(Profile, ExistingValuesKeepTheirMeaningAndSurviveRewrites)
{
    TempDir dir;
    const std::string path = dir.file("Orvalink.conf");
    writeFile(path, "[NetMsg Entry]\nLog Folder=/home/ユーザ/ChatLog\nGreeting=café ☃\nUser PortName1=グループ１\n");
    Profile p(path);
    EXPECT_EQ(p.getPath("NetMsg Entry", "Log Folder"), "/home/ユーザ/ChatLog");
    EXPECT_EQ(p.getString("NetMsg Entry", "User PortName1"), kGroupOne);
    ASSERT_TRUE(p.writeInt("NetMsg Entry", "Log YesNo", 1));
    const std::string onDisk = readFile(path);
    EXPECT_NE(onDisk.find("Greeting=café ☃\n"), std::string::npos) << onDisk;
    EXPECT_NE(onDisk.find("Log Folder=/home/ユーザ/ChatLog\n"), std::string::npos) << onDisk;
}

// A writer killed between creating its temporary file and the rename leaves it behind; opening the
// store removes those files and nothing else.
TEST(Profile, OpeningRemovesStaleTemporaryFilesOnly)
{
    TempDir dir;
    const std::string path = dir.file("Orvalink.conf");
    writeFile(path, "[S]\na=1\n");
    const std::string stale[] = {"Orvalink.conf.AbC123", "Orvalink.conf.zzzzzz", "Orvalink.conf.000000"};
    const std::string kept[] = {"Orvalink.conf",       "Orvalink.conf.lock",    "Orvalink.conf.bak",
                                "Orvalink.conf.12345", "Orvalink.conf.1234567", "Orvalink.conf.ab-123",
                                "Other.conf.AbC123",   "xOrvalink.conf.AbC123", "Orvalink.conf.AbC123.x"};
    for (const auto& name : stale)
        writeFile(dir.file(name), "[S]\na=half");
    for (const auto& name : kept)
        if (name != "Orvalink.conf")
            writeFile(dir.file(name), "keep");
    // A folder and a link that look like temporary files are not the store's.
    std::filesystem::create_directory(dir.file("Orvalink.conf.Dir123"));
    std::filesystem::create_symlink(dir.file("Orvalink.conf.bak"), dir.file("Orvalink.conf.Lnk123"));

    Profile p(path);
    for (const auto& name : stale)
        EXPECT_FALSE(std::filesystem::exists(dir.file(name))) << name;
    for (const auto& name : kept)
        EXPECT_TRUE(std::filesystem::exists(dir.file(name))) << name;
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("Orvalink.conf.Dir123")));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("Orvalink.conf.Lnk123")));
    EXPECT_EQ(readFile(dir.file("Orvalink.conf.bak")), "keep");
    EXPECT_EQ(p.getInt("S", "a", 0), 1);

    // The process-wide store cleans up when it is opened too.
    ScopedEnv configHome("XDG_CONFIG_HOME", dir.path());
    std::filesystem::create_directory(dir.file("Orvalink"));
    writeFile(dir.file("Orvalink/Orvalink.conf.Qw3rty"), "half");
    Profile::reopenApplication();
    EXPECT_FALSE(std::filesystem::exists(dir.file("Orvalink/Orvalink.conf.Qw3rty")));
}

} // namespace orvalink::platform
