// The filing of a downloaded message: the cleanup and Subject joining passes on bytes, the whole
// pipeline into 受信したメール, the message file writer and the record of filed ids.
#include "mail/engine/ReceivedMailFiling.h"

#include "mail/ReceiveTestSupport.h"
#include "mail/engine/Pop3Texts.h"
#include "mail/engine/ReceivedMailFiler.h"
#include "mail/engine/UidlRecord.h"
#include "store/TempFileNames.h"
#include "support/TestFiles.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace orvalink::mail {

using namespace orvalink;

namespace {

const std::string kTesuto = "\x83\x65\x83\x58\x83\x67"; // テスト
const std::string kKanji = "\x8a\xbf\x8e\x9a";          // 漢字

struct PassCase {
    const char* name;
    std::string in;
    std::string out;
};

TEST(CleanupPass, StoredFormBecomesCrLfLinesWithHeaderFoldsJoined)
{
    const std::vector<PassCase> cases = {
        {"stored example", "Received: a\r\r\n\tb\r\r\nSubject: x\r\r\nDate: y\r\r\n\r\r\nbody\r\r\n.\r\r\n",
         "Received: ab\r\nSubject: x\r\nDate: y\r\n\r\nbody\r\n"},
        {"TAB in the body is kept", "A: 1\r\r\n\r\r\nline\r\r\n\tindented\r\r\n.\r\r\n",
         "A: 1\r\n\r\nline\r\n\tindented\r\n"},
        {"lone CR is data", "A: 1\r2\r\r\n\r\r\nx\ry\r\r\n\r\r\r\n.\r\r\n", "A: 1\r2\r\n\r\nx\ry\r\n\r\r\n"},
        {"no terminator: nothing cut", "A: 1\r\r\n\r\r\nbody\r\r\n", "A: 1\r\n\r\nbody\r\n"},
        {"terminator not on its own line is text", "A: 1\r\r\n\r\r\nthe end.\r\r\n", "A: 1\r\n\r\nthe end.\r\n"},
        {"only a terminator", ".\r\r\n", ""},
        {"a body '.' line before the terminator stays", "A\r\r\n\r\r\n.\r\r\n.\r\r\n", "A\r\n\r\n.\r\n"},
        {"bare LF becomes CR LF", "A: 1\n\nb\n", "A: 1\r\n\r\nb\r\n"},
        {"TAB fold across several lines", "R: a\r\r\n\tb\r\r\n\tc\r\r\nS: d\r\r\n", "R: abc\r\nS: d\r\n"},
        {"file ends inside a header line", "A: 1\r\r\nB: 2", "A: 1\r\nB: 2"},
    };
    for (const PassCase& c : cases)
        EXPECT_EQ(cleanupPass(c.in), c.out) << c.name;
}

TEST(SubjectJoinPass, FirstSubjectOfTheHeaderTakesItsFoldedLinesOnly)
{
    const std::vector<PassCase> cases = {
        {"folded encoded words join without a space", "Subject: AB\r\n CD\r\nDate: x\r\n\r\nbody\r\n",
         "Subject: ABCD\r\nDate: x\r\n\r\nbody\r\n"},
        {"followed directly by Date: unchanged", "Subject: x\r\nDate: y\r\n\r\nb\r\n",
         "Subject: x\r\nDate: y\r\n\r\nb\r\n"},
        {"other headers are not swallowed", "Subject: x\r\nCc: c\r\nReply-To: r\r\n\r\nb\r\n",
         "Subject: x\r\nCc: c\r\nReply-To: r\r\n\r\nb\r\n"},
        {"last header keeps the empty line and the body", "From: f\r\nSubject: x\r\n y\r\n\r\n body\r\n",
         "From: f\r\nSubject: xy\r\n\r\n body\r\n"},
        {"only the first Subject", "Subject: a\r\n b\r\nSubject: c\r\n d\r\n\r\n",
         "Subject: ab\r\nSubject: c\r\n d\r\n\r\n"},
        {"a Subject in the body is not joined", "From: f\r\n\r\nSubject: x\r\n y\r\n",
         "From: f\r\n\r\nSubject: x\r\n y\r\n"},
        {"TAB continuation keeps its TAB", "Subject: a\r\n\tb\r\n\r\n", "Subject: a\tb\r\n\r\n"},
        {"subject at the end of the file", "Subject: a\r\n b", "Subject: ab\r\n"},
        {"inner CRs go, CR space goes with the space", "Subject: a\r b\rc\r\n\r\n", "Subject: abc\r\n\r\n"},
        {"case as written", "subject: a\r\n b\r\n", "subject: a\r\n b\r\n"},
        {"last line without line end", "A: 1\r\n\r\nend", "A: 1\r\n\r\nend\r\n"},
    };
    for (const PassCase& c : cases)
        EXPECT_EQ(joinSubjectPass(c.in), c.out) << c.name;
}

// The message file as the filer writes it: every LF as CR LF and the stored terminator.
std::string storedForm(std::string_view received)
{
    std::string stored;
    for (const char c : received) {
        if (c == '\n')
            stored.push_back('\r');
        stored.push_back(c);
    }
    return stored + ".\r\r\n";
}

class Filing : public ::testing::Test {
protected:
    std::string folder() const { return *store::folderFsPath(dir.path(), store::kReceivedFolder); }
    std::string messageFile(int n) const { return store::messageTempFileName(folder(), n); }
    static bool exists(const std::string& path) { return std::filesystem::exists(path); }

    test::TempDir dir{"orvalink-filing"};
};

TEST_F(Filing, MessagesAreConvertedJoinedAndStoredByteForByte)
{
    struct Case {
        const char* name;
        std::string received;
        std::string stored;
    };
    const std::vector<Case> cases = {
        {"encoded Subject", "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\r\nDate: d\r\n\r\nbody\r\n",
         "Subject: " + kTesuto + "\r\nDate: d\r\n\r\nbody\r\n"},
        {"folded two-word Subject",
         "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\r\n =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\r\nTo: t\r\n\r\nb\r\n",
         "Subject: " + kTesuto + kTesuto + "\r\nTo: t\r\n\r\nb\r\n"},
        {"EUC-JP body", "Subject: e\r\n\r\n\xb4\xc1\xbb\xfa\r\n", "Subject: e\r\n\r\n" + kKanji + "\r\n"},
        {"ISO-2022-JP body", "Subject: j\r\n\r\n\x1b$B4A;z\x1b(B\r\n", "Subject: j\r\n\r\n" + kKanji + "\r\n"},
        {"TAB-continued Received", "Received: from a\r\n\tby b; date\r\nSubject: r\r\n\r\nb\r\n",
         "Received: from aby b; date\r\nSubject: r\r\n\r\nb\r\n"},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const int number = static_cast<int>(i) + 1;
        test::writeFile(messageFile(number), storedForm(cases[i].received));
        const FilingResult result = fileReceivedMessage(dir.path(), messageFile(number), number);
        EXPECT_TRUE(result.filed) << cases[i].name;
        EXPECT_TRUE(result.errors.empty()) << cases[i].name;
        for (const std::string& f :
             {messageFile(number), store::tabFileName(messageFile(number)), store::cnvFileName(messageFile(number))})
            EXPECT_FALSE(exists(f)) << cases[i].name << ": " << f;
    }
    const std::vector<std::string> stored = receivedMessages(dir.path());
    ASSERT_EQ(stored.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(stored[i], cases[i].stored) << cases[i].name;
}

// The filer writes each message over the file of the one before: a shorter message, from memory
// or through the work files (over 1 MB), is filed with its own bytes and nothing of the earlier
// one, as a filer that makes a file per message files it; no work file stays behind.
TEST(FilingFromMemory, AReusedFileHoldsOnlyItsOwnMessage)
{
    const auto lines = [](char c, std::size_t bytes) {
        std::string m = "Subject: " + std::string(1, c) + "\r\n\r\n";
        while (m.size() < bytes)
            m += std::string(78, c) + "\r\n";
        return m;
    };
    const std::vector<std::string> received = {lines('a', 1536 * 1024), lines('b', 1100 * 1024), lines('c', 9000),
                                               lines('d', 300)};
    const auto file = [](const std::string& dir, int number, std::string_view text, ReceivedMailFiler& filer) {
        ASSERT_EQ(filer.beginMessage(number), "");
        ASSERT_EQ(filer.writeMessageData(text), "");
        ASSERT_EQ(filer.completeMessage(number, ""), std::vector<std::string>{}) << dir;
    };
    test::TempDir reused("orvalink-reused");
    test::TempDir fresh("orvalink-fresh");
    {
        ReceivedMailFiler filer(reused.path(), nullptr);
        for (std::size_t i = 0; i < received.size(); ++i)
            file(reused.path(), static_cast<int>(i) + 1, received[i], filer);
        EXPECT_TRUE(filer.downloadEnded().empty());
    }
    for (std::size_t i = 0; i < received.size(); ++i) {
        ReceivedMailFiler filer(fresh.path(), nullptr);
        file(fresh.path(), static_cast<int>(i) + 1, received[i], filer);
    }
    // (compared whole: a difference of megabytes is not worth printing)
    EXPECT_TRUE(receivedMessages(reused.path()) == receivedMessages(fresh.path()));
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(reused.path()))
        if (entry.is_regular_file())
            left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    std::vector<std::string> folderFiles;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(fresh.path()))
        if (entry.is_regular_file())
            folderFiles.push_back(entry.path().filename().string());
    std::sort(folderFiles.begin(), folderFiles.end());
    EXPECT_EQ(left, folderFiles);
}

// Filed from memory or through the work files, a message leaves the same bytes in both folder files.
TEST(FilingFromMemory, StoresTheBytesTheFileStepsStore)
{
    const std::vector<std::string> received = {
        "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\r\nDate: d\r\n\r\nbody\r\n",
        "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\r\n =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\r\nTo: t\r\n\r\nb\r\n",
        "Subject: e\r\n\r\n\xb4\xc1\xbb\xfa\r\n",
        "Received: from a\r\n\tby b; date\r\nSubject: r\r\n\r\nb\r\n",
        "Subject: lone\rCR\r\n\r\nx\ry\r\n\r\r\r\n",
        "From: no end of line",
        "",
        "Subject: \x82\r\n\r\n$B4A;z(B and \x1b$B4A\r\n",
        std::string(3000, 'L') + "\r\n\r\n" + std::string(70000, 'b'),
    };
    test::TempDir viaFiles("orvalink-files");
    test::TempDir viaMemory("orvalink-memory");
    for (std::size_t i = 0; i < received.size(); ++i) {
        const int number = static_cast<int>(i) + 1;
        std::string stored;
        for (const char c : received[i]) {
            if (c == '\n')
                stored.push_back('\r');
            stored.push_back(c);
        }
        stored += ".\r\r\n";
        const auto file = [number](const test::TempDir& d) {
            return store::messageTempFileName(*store::folderFsPath(d.path(), store::kReceivedFolder), number);
        };
        test::writeFile(file(viaFiles), stored);
        test::writeFile(file(viaMemory), stored);
        EXPECT_TRUE(fileReceivedMessage(viaFiles.path(), file(viaFiles), number).filed) << i;
        EXPECT_TRUE(fileReceivedText(viaMemory.path(), file(viaMemory), stored, number).filed) << i;
        EXPECT_FALSE(std::filesystem::exists(file(viaMemory))) << i;
    }
    for (const char* suffix : {".mbx", ".idx"})
        EXPECT_EQ(test::readFile(*store::folderFsPath(viaMemory.path(), store::kReceivedFolder) + suffix),
                  test::readFile(*store::folderFsPath(viaFiles.path(), store::kReceivedFolder) + suffix))
            << suffix;
}

TEST_F(Filing, MessageThatCannotBeFiledIsKeptAndNamed)
{
    // The folder's mailbox cannot be opened: it is a directory.
    std::filesystem::create_directory(folder() + ".mbx");
    const std::string received = "Subject: keep me\r\n\r\nbody\r\n";
    test::writeFile(messageFile(4), storedForm(received));
    const FilingResult result = fileReceivedMessage(dir.path(), messageFile(4), 4);
    EXPECT_FALSE(result.filed);
    ASSERT_EQ(result.keptFile, messageFile(4) + ".1");
    EXPECT_EQ(test::readFile(result.keptFile), received);
    ASSERT_EQ(result.errors.size(), 1u);
    EXPECT_NE(result.errors[0].find(platform::utf8ToCp932(result.keptFile)), std::string::npos);
    EXPECT_FALSE(exists(messageFile(4)));
    EXPECT_FALSE(exists(folder() + ".idx") && std::filesystem::file_size(folder() + ".idx") > 0);

    // A second failure of the same number does not overwrite the first kept file.
    test::writeFile(messageFile(4), storedForm("Subject: again\r\n\r\n"));
    EXPECT_EQ(fileReceivedMessage(dir.path(), messageFile(4), 4).keptFile, messageFile(4) + ".2");
    EXPECT_EQ(test::readFile(messageFile(4) + ".1"), received);
}

TEST_F(Filing, MissingMessageFileIsReportedAsLost)
{
    const FilingResult result = fileReceivedMessage(dir.path(), messageFile(7), 7);
    EXPECT_FALSE(result.filed);
    EXPECT_TRUE(result.keptFile.empty());
    EXPECT_EQ(result.errors.size(), 1u);
}

TEST_F(Filing, FilerStartsEachFileEmptyWritesCrCrLfAndRecordsTheIdAfterFiling)
{
    UidlRecord record(dir.path(), "pop.example.jp", "taro");
    ReceivedMailFiler filer(dir.path(), &record);
    // A file left by an interrupted download is not part of the new message.
    test::writeFile(messageFile(1), "stale bytes\r\r\n");
    EXPECT_EQ(filer.beginMessage(1), "");
    struct stat st {};
    ASSERT_EQ(::stat(messageFile(1).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(filer.writeMessageData("Subject: s\r\n\r\nbo"), "");
    EXPECT_EQ(filer.writeMessageData("dy\nx\r\n"), "");
    EXPECT_TRUE(record.load().empty());
    EXPECT_TRUE(filer.completeMessage(1, "id-1").empty());
    EXPECT_EQ(receivedMessages(dir.path()), std::vector<std::string>{"Subject: s\r\n\r\nbody\r\nx\r\n"});
    EXPECT_TRUE(filer.downloadEnded().empty());
    EXPECT_EQ(record.load(), std::set<std::string>{"id-1"});
    EXPECT_EQ(filer.filedCount(), 1);

    // An abandoned message leaves nothing.
    EXPECT_EQ(filer.beginMessage(2), "");
    filer.writeMessageData("Subject: half\r\n");
    filer.abandonMessage(2);
    EXPECT_FALSE(exists(messageFile(2)));
    EXPECT_EQ(receivedMessages(dir.path()).size(), 1u);
    EXPECT_EQ(record.load().size(), 1u);
}

TEST_F(Filing, IdOfAMessageThatWasNotFiledIsNotRecorded)
{
    std::filesystem::create_directory(folder() + ".mbx");
    UidlRecord record(dir.path(), "pop.example.jp", "taro");
    {
        ReceivedMailFiler filer(dir.path(), &record);
        EXPECT_EQ(filer.beginMessage(3), "");
        filer.writeMessageData("Subject: s\r\n\r\nbody\r\n");
        const std::vector<std::string> errors = filer.completeMessage(3, "id-3");
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_NE(errors[0].find(platform::utf8ToCp932(keptMessageFile(dir.path(), "id-3"))), std::string::npos);
        EXPECT_TRUE(filer.downloadEnded().empty());
        EXPECT_EQ(filer.filedCount(), 0);
    }
    EXPECT_TRUE(record.load().empty());
    EXPECT_EQ(test::readFile(keptMessageFile(dir.path(), "id-3")), "Subject: s\r\n\r\nbody\r\n");
}

TEST_F(Filing, FilerWithoutMailDirectoryRefuses)
{
    ReceivedMailFiler filer("", nullptr);
    EXPECT_EQ(filer.beginMessage(1), texts::kNoMailDirectory);
}

TEST_F(Filing, UidlRecordIgnoresACutLineAndKeepsAccountsApart)
{
    UidlRecord taro(dir.path(), "pop.example.jp", "taro");
    UidlRecord jiro(dir.path(), "pop.example.jp", "jiro/../x");
    EXPECT_NE(taro.path(), jiro.path());
    EXPECT_EQ(std::filesystem::path(jiro.path()).parent_path(), dir.path());
    EXPECT_TRUE(taro.add("a1"));
    test::appendFile(taro.path(), "cut-sho");
    EXPECT_EQ(taro.load(), std::set<std::string>{"a1"});
    EXPECT_TRUE(taro.add("b2"));
    EXPECT_EQ(taro.load(), (std::set<std::string>{"a1", "b2"}));
    EXPECT_TRUE(jiro.load().empty());
}

// Ids outside RFC 1939's form are kept exactly: never cut at a space, never dropped.
TEST_F(Filing, UidlRecordKeepsAnyIdExactly)
{
    const std::vector<std::string> ids = {
        "plain",
        "has space",
        "has",
        "ctl\x01\x7f",
        std::string(71, 'x'),
        std::string(600, 'y'),
        "%41",
        "A",
        "pct%",
        "\xff\xfe",
        "tab\tid",
        "lf\nid",
        "cr\r",
        " ",
    };
    UidlRecord record(dir.path(), "pop.example.jp", "taro");
    for (const std::string& id : ids)
        EXPECT_TRUE(record.add(id)) << testing::PrintToString(id);
    EXPECT_EQ(record.load(), std::set<std::string>(ids.begin(), ids.end()));
    // An older record of plain lines is read as before.
    test::appendFile(record.path(), "old-1\nold-2\n");
    EXPECT_EQ(record.load().count("old-2"), 1u);
}

// Hand-made records: which lines are trusted. The folder's index and mailbox are 10 and 20 bytes.
TEST_F(Filing, UidlRecordTrustsAnUnconfirmedIdOnlyAsFarAsTheFolderFilesShowIt)
{
    struct Case {
        const char* name;
        std::string record;
        std::set<std::string> trusted;
    };
    const std::vector<Case> cases = {
        {"old plain lines", "a\nb\n", {"a", "b"}},
        {"within the folder", "\ta\t10\t20\n\tb\t9\t5\n", {"a", "b"}},
        {"past the index", "\ta\t11\t20\n", {}},
        {"past the mailbox", "\ta\t10\t21\n", {}},
        {"confirmed", "\ta\t99\t99\n\t\t0\n", {"a"}},
        {"confirmation covers only its own lines", "\ta\t99\t99\n\tb\t99\t99\n\t\t9\n", {"b"}},
        {"escaped", "\ta%20b%25\t1\t1\n", {"a b%"}},
        {"escape not as written", "\ta%2\t1\t1\n\tb%41\t1\t1\n\tc%2f\t1\t1\n\td%\t1\t1\n", {}},
        {"cut short and ended with a space", "\ta\t1\t1 \n\t\t0 \n\tb\t1 \n", {}},
        {"line without its LF", "a\n\tb\t1\t1", {"a"}},
        {"bad numbers", "\ta\t-1\t1\n\tb\t1\tx\n\tc\t\t1\n", {}},
        {"a filing begun is no id", "\ta\t1\t1\t+\n\t\t0\n", {}},
        {"filing then id", "\ta\t1\t1\t+\n\ta\t10\t20\n", {"a"}},
    };
    const std::string folderPath = folder();
    test::writeFile(folderPath + ".idx", std::string(10, 'i'));
    test::writeFile(folderPath + ".mbx", std::string(20, 'm'));
    UidlRecord record(dir.path(), "pop.example.jp", "taro");
    for (const Case& c : cases) {
        test::writeFile(record.path(), c.record);
        EXPECT_EQ(record.load(), c.trusted) << c.name;
    }
}

// One kept file per message id: a second failure replaces it, filing the message removes it.
TEST_F(Filing, KeptCopyIsOneFilePerIdAndGoesWhenTheMessageIsFiled)
{
    const auto keptFiles = [this] {
        std::vector<std::string> found;
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            if (e.path().filename().string().find(".kept.") != std::string::npos ||
                e.path().extension().string().find_first_not_of(".0123456789") == std::string::npos)
                found.push_back(e.path().string());
        return found;
    };
    std::filesystem::create_directory(folder() + ".mbx");
    const std::string ids[] = {"id 1", std::string(300, 'L')};
    for (const std::string& id : ids) {
        for (int attempt = 1; attempt <= 3; ++attempt) {
            const std::string text = "Subject: attempt " + std::to_string(attempt) + "\r\n\r\n";
            test::writeFile(messageFile(5), storedForm(text));
            const FilingResult result = fileReceivedMessage(dir.path(), messageFile(5), 5, {}, id);
            EXPECT_FALSE(result.filed);
            EXPECT_EQ(result.keptFile, keptMessageFile(dir.path(), id));
            EXPECT_EQ(test::readFile(result.keptFile), text);
        }
        EXPECT_LT(std::filesystem::path(keptMessageFile(dir.path(), id)).filename().string().size(), 255u);
    }
    EXPECT_EQ(keptFiles().size(), 2u);
    std::filesystem::remove(folder() + ".mbx");
    test::writeFile(messageFile(5), storedForm("Subject: filed\r\n\r\n"));
    EXPECT_TRUE(fileReceivedMessage(dir.path(), messageFile(5), 5, {}, ids[0]).filed);
    EXPECT_FALSE(exists(keptMessageFile(dir.path(), ids[0])));
    EXPECT_EQ(keptFiles(), std::vector<std::string>{keptMessageFile(dir.path(), ids[1])});
}

// A filer killed after filing `count` messages: the next download fetches again only what was not
// filed. The child ends without any destructor, as SIGKILL would end it.
TEST_F(Filing, KilledFilerHasRecordedEveryMessageItFiled)
{
    for (const int count : {1, 99, 100, 101, 150}) {
        test::TempDir mailDir("orvalink-killed");
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            UidlRecord record(mailDir.path(), "pop.example.jp", "taro");
            auto* filer = new ReceivedMailFiler(mailDir.path(), &record);
            for (int n = 1; n <= count; ++n) {
                filer->beginMessage(n);
                filer->writeMessageData("Subject: " + std::to_string(n) + "\r\n\r\nb\r\n");
                if (!filer->completeMessage(n, "id-" + std::to_string(n)).empty())
                    ::_exit(2);
            }
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << count;
        EXPECT_EQ(UidlRecord(mailDir.path(), "pop.example.jp", "taro").load().size(), static_cast<std::size_t>(count));
        EXPECT_EQ(receivedMessages(mailDir.path()).size(), static_cast<std::size_t>(count));
    }
}

// The first line of each text.
std::vector<std::string> subjects(const std::vector<std::string>& texts)
{
    std::vector<std::string> lines;
    for (const std::string& t : texts)
        lines.push_back(t.substr(0, t.find('\r')));
    return lines;
}

// A download killed while it writes the id record (past the file-size limit the kernel ends the
// process with SIGXFSZ): at the first, the second and the last byte of each line a whole download
// writes there, so also between each message's append and its id. The next download fetches what
// the record does not hold and files every message exactly once. The second message is too large to
// be kept in memory and is filed from its file.
TEST_F(Filing, KilledWhileRecordingTheNextDownloadFilesEachMessageOnce)
{
    std::string large = "Subject: large\r\n\r\n";
    while (large.size() <= ReceivedMailFiler::kInMemoryLimit)
        large += std::string(998, 'y') + "\r\n";
    const std::vector<std::string> messages = {"Subject: small\r\n\r\nbody\r\n", large, "Subject: last\r\n\r\n"};
    const auto download = [&messages](const std::string& mailDir) {
        UidlRecord record(mailDir, "pop.example.jp", "taro");
        const std::set<std::string> known = record.load();
        auto filer = std::make_unique<ReceivedMailFiler>(mailDir, &record);
        for (int n = 1; n <= static_cast<int>(messages.size()); ++n) {
            const std::string id = "id-" + std::to_string(n);
            if (known.count(id))
                continue;
            filer->beginMessage(n);
            filer->writeMessageData(messages[n - 1]);
            filer->completeMessage(n, id);
        }
        filer->downloadEnded();
    };
    // The record starts longer than any other file the download writes (a hole, which costs no
    // disk writes), so that only writes to the record pass the limit. In memory where there is such
    // a file system: the downloads then cost no disk syncs.
    const std::uintmax_t recordStart = large.size() + 65536;
    const std::string scratch =
        std::filesystem::is_directory("/dev/shm") ? "/dev/shm/orvalink-cut-record" : "orvalink-cut-record";
    const auto newRecord = [&](const std::string& mailDir) {
        UidlRecord record(mailDir, "pop.example.jp", "taro");
        test::writeFile(record.path(), "");
        std::filesystem::resize_file(record.path(), recordStart);
        return record.path();
    };
    std::set<rlim_t> killPoints = {0};
    std::size_t recordBytes = 0; // what a whole download writes to the record
    {
        test::TempDir whole(scratch);
        const std::string path = newRecord(whole.path());
        download(whole.path());
        const std::string written = test::readFile(path).substr(recordStart);
        recordBytes = written.size();
        for (std::size_t lf = written.find('\n'); lf != std::string::npos; lf = written.find('\n', lf + 1))
            killPoints.insert({lf, lf + 1, lf + 2});
        ASSERT_GT(killPoints.size(), 12u);
    }
    int cutBetweenAppendAndId = 0;
    for (const rlim_t extra : killPoints) {
        test::TempDir mailDir(scratch);
        newRecord(mailDir.path());
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const rlimit noCore{0, 0};
            const rlimit limit{recordStart + extra, recordStart + extra};
            ::setrlimit(RLIMIT_CORE, &noCore);
            ::signal(SIGXFSZ, SIG_DFL);
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
                ::_exit(2);
            download(mailDir.path());
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_EQ(WIFEXITED(status), extra >= recordBytes) << extra;
        if (WIFEXITED(status)) {
            ASSERT_EQ(WEXITSTATUS(status), 0);
            continue;
        }
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << extra;
        UidlRecord record(mailDir.path(), "pop.example.jp", "taro");
        if (receivedMessages(mailDir.path()).size() > record.load().size())
            ++cutBetweenAppendAndId;

        download(mailDir.path());
        const std::vector<std::string> filed = receivedMessages(mailDir.path());
        EXPECT_EQ(subjects(filed), subjects(messages)) << "killed at record byte " << extra;
        EXPECT_TRUE(filed == messages) << extra;
        EXPECT_EQ(record.load().size(), messages.size()) << extra;
    }
    EXPECT_GE(cutBetweenAppendAndId, 3);
}

// A text of the filer for message 1 and the path `name`.
std::string formatted(const char* pattern, const std::string& name)
{
    char text[4096];
    std::snprintf(text, sizeof text, pattern, 1, platform::utf8ToCp932(name).c_str());
    return text;
}

// The filer's failures each end with their own text; the message is filed only where the failure
// came after its append.
TEST(FilerFaults, EachFailureIsReportedWithItsText)
{
    struct Case {
        const char* name;
        std::function<void(const std::string& messageFile, const UidlRecord&)> breakIt;
        rlim_t fileSizeLimit; // 0: none
        // The expected first error, from the message file's and the record's paths.
        std::function<std::string(const std::string& messageFile, const UidlRecord&)> text;
        bool filed;
    };
    const std::vector<Case> cases = {
        {"work file cannot be created",
         [](const std::string& file, const UidlRecord&) { std::filesystem::create_directories(file + "/x"); }, 0,
         [](const std::string& file, const UidlRecord&) { return formatted(texts::kCannotCreate, file); }, false},
        {"work file write fails", [](const std::string&, const UidlRecord&) {}, 8,
         [](const std::string&, const UidlRecord&) { return formatted(texts::kCannotWrite, ""); }, false},
        {"ids cannot be recorded",
         [](const std::string&, const UidlRecord& r) { std::filesystem::create_directories(r.path()); }, 0,
         [](const std::string&, const UidlRecord& r) {
             char text[4096];
             std::snprintf(text, sizeof text, texts::kCannotRecord, platform::utf8ToCp932(r.path()).c_str());
             return std::string(text);
         },
         true},
    };
    for (const Case& c : cases) {
        test::TempDir dir("orvalink-filer-fault");
        const std::string file =
            store::messageTempFileName(*store::folderFsPath(dir.path(), store::kReceivedFolder), 1);
        UidlRecord record(dir.path(), "pop.example.jp", "taro");
        c.breakIt(file, record);
        std::vector<std::string> errors;
        {
            ReceivedMailFiler filer(dir.path(), &record);
            rlimit saved{};
            ::getrlimit(RLIMIT_FSIZE, &saved);
            const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
            if (c.fileSizeLimit > 0) {
                rlimit limit = saved;
                limit.rlim_cur = c.fileSizeLimit;
                ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
            }
            if (std::string e = filer.beginMessage(1); !e.empty())
                errors.push_back(e);
            if (std::string e = filer.writeMessageData("Subject: s\r\n\r\nb\r\n"); !e.empty())
                errors.push_back(e);
            const std::vector<std::string> notFiled = filer.completeMessage(1, "id-1");
            // A text from completeMessage names the message as not filed.
            EXPECT_EQ(notFiled.empty(), c.filed) << c.name;
            errors.insert(errors.end(), notFiled.begin(), notFiled.end());
            for (std::string& e : filer.downloadEnded())
                errors.push_back(std::move(e));
            ::setrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, oldHandler);
        }
        ASSERT_FALSE(errors.empty()) << c.name;
        EXPECT_EQ(errors.front(), c.text(file, record)) << c.name;
        EXPECT_EQ(receivedMessages(dir.path()).size(), c.filed ? 1u : 0u) << c.name;
        EXPECT_FALSE(std::filesystem::is_regular_file(file)) << c.name;
    }
}

} // namespace

} // namespace orvalink::mail
