// The filing of a downloaded message: the cleanup and Subject joining passes on bytes, the whole
// pipeline into 受信したメール, the message file writer and the record of filed ids.
#include "mail/engine/ReceivedMailFiling.h"

#include "folders/store/TempFileNames.h"
#include "mail/ReceiveTestSupport.h"
#include "mail/engine/Pop3Texts.h"
#include "mail/engine/ReceivedMailFiler.h"
#include "mail/engine/UidlRecord.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

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
    std::string folder() const { return *folders::folderFsPath(dir.path(), folders::kReceivedFolder); }
    std::string messageFile(int n) const { return folders::messageTempFileName(folder(), n); }
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
        for (const std::string& f : {messageFile(number), folders::tabFileName(messageFile(number)),
                                     folders::cnvFileName(messageFile(number))})
            EXPECT_FALSE(exists(f)) << cases[i].name << ": " << f;
    }
    const std::vector<std::string> stored = receivedMessages(dir.path());
    ASSERT_EQ(stored.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(stored[i], cases[i].stored) << cases[i].name;
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
        EXPECT_NE(errors[0].find(platform::utf8ToCp932(messageFile(3) + ".1")), std::string::npos);
        EXPECT_TRUE(filer.downloadEnded().empty());
        EXPECT_EQ(filer.filedCount(), 0);
    }
    EXPECT_TRUE(record.load().empty());
    EXPECT_EQ(test::readFile(messageFile(3) + ".1"), "Subject: s\r\n\r\nbody\r\n");
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
    EXPECT_FALSE(taro.add("has space"));
    EXPECT_FALSE(taro.add(std::string(71, 'x')));
    EXPECT_TRUE(jiro.load().empty());
}

} // namespace

} // namespace orvalink::mail
