#include "store/FolderTestSupport.h"
#include "store/MailStore.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <sys/resource.h>

namespace orvalink::store {

using orvalink::test::appendBytes;
using orvalink::test::fileMessage;
using orvalink::test::fsPath;
using orvalink::test::readBytes;
using orvalink::test::ScratchDir;
using orvalink::test::writeBytes;

namespace {

const std::string kReceived(kReceivedFolder);
const std::string kSaved(kSavedFolder);

std::string message(int n)
{
    return "Received: x; d" + std::to_string(n) + "\r\nSubject: m" + std::to_string(n) + "\r\n\r\nbody " +
           std::to_string(n) + "\r\n";
}

// Puts a directory where one of a folder's files belongs: opening it for writing fails even for
// root, which file permissions would not stop.
void blockWithDirectory(const std::string& file)
{
    std::filesystem::remove(fsPath(file));
    std::filesystem::create_directory(fsPath(file));
}

// Limits the size of any file this process writes, so that a write past `bytes` fails with EFBIG
// whoever the user is. Restores the limit and the signal when it ends.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        m_active = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool active() const { return m_active; }

private:
    rlimit m_saved{};
    void (*m_oldHandler)(int) = nullptr;
    bool m_active = false;
};

TEST(MailStoreFaults, UnopenableIndexLeavesMailboxUnchanged)
{
    ScratchDir dir;
    const std::string received = dir.folder(kReceived);
    ASSERT_EQ(fileMessage(dir, kReceived, message(1)), StoreResult::Stored);
    const std::string mailbox = readBytes(received + ".mbx");
    blockWithDirectory(received + ".idx");
    EXPECT_EQ(fileMessage(dir, kReceived, message(2)), StoreResult::CannotOpen);
    EXPECT_EQ(readBytes(received + ".mbx"), mailbox);

    const std::string saved = dir.folder(kSaved);
    ASSERT_EQ(AppendSavedMail(dir.path(), "f", "t", "s", "kept"), StoreResult::Stored);
    blockWithDirectory(saved + ".idx");
    EXPECT_EQ(AppendSavedMail(dir.path(), "f", "t", "s", "lost"), StoreResult::CannotOpen);
    EXPECT_EQ(readBytes(saved + ".mbx"), "kept");
}

TEST(MailStoreFaults, UnopenableMailboxLeavesIndexUnchanged)
{
    ScratchDir dir;
    const std::string received = dir.folder(kReceived);
    ASSERT_EQ(fileMessage(dir, kReceived, message(1)), StoreResult::Stored);
    const std::string index = readBytes(received + ".idx");
    blockWithDirectory(received + ".mbx");
    EXPECT_EQ(fileMessage(dir, kReceived, message(2)), StoreResult::CannotOpen);
    EXPECT_EQ(readBytes(received + ".idx"), index);
    EXPECT_EQ(AppendSavedMail(dir.path(), "f", "t", "s", "b"), StoreResult::Stored);
}

// The index write fails after the message went to the mailbox: the mailbox is cut back, so the
// folder stays as it was, and the next append after the fault lands where the index says.
TEST(MailStoreFaults, FailedIndexWriteCutsMailboxBack)
{
    ScratchDir dir;
    const std::string folder = dir.folder(kReceived);
    // Many tiny messages make the index far longer than the mailbox.
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(fileMessage(dir, kReceived, "a\r\n"), StoreResult::Stored);
    const std::string index = readBytes(folder + ".idx");
    const std::string mailbox = readBytes(folder + ".mbx");
    ASSERT_GT(index.size(), mailbox.size() + 200);
    const std::string next = message(7);
    writeBytes(dir.path() + "/next.qel", next);
    {
        FileSizeLimit limit(index.size() + 10);
        ASSERT_TRUE(limit.active());
        EXPECT_EQ(AppendReceivedMessage(dir.path(), kReceived, dir.path() + "/next.qel"), StoreResult::WriteFailed);
    }
    EXPECT_EQ(readBytes(folder + ".idx"), index);
    EXPECT_EQ(readBytes(folder + ".mbx"), mailbox);

    ASSERT_EQ(fileMessage(dir, kReceived, next), StoreResult::Stored);
    const auto listing = readFolderIndex(folder);
    ASSERT_TRUE(listing);
    ASSERT_EQ(listing->entries.size(), 21u);
    EXPECT_EQ(readFolderMessage(folder, listing->entries[20]), next);
}

TEST(MailStoreFaults, FailedMailboxWriteLeavesBothFilesAsTheyWere)
{
    ScratchDir dir;
    const std::string folder = dir.folder(kSaved);
    ASSERT_EQ(AppendSavedMail(dir.path(), "f", "t", "s", "first"), StoreResult::Stored);
    const std::string index = readBytes(folder + ".idx");
    std::string body(4000, 'b');
    {
        FileSizeLimit limit(1000);
        ASSERT_TRUE(limit.active());
        EXPECT_EQ(AppendSavedMail(dir.path(), "f", "t", "s", body), StoreResult::WriteFailed);
    }
    EXPECT_EQ(readBytes(folder + ".idx"), index);
    EXPECT_EQ(readBytes(folder + ".mbx"), "first");
}

struct CutCase {
    const char* name;
    std::size_t keptOfLastRecord; // bytes of the third record left in the index
    bool mailboxHasThirdMessage;  // the crash came after the message went to the mailbox
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const CutCase& c, std::ostream* os)
{
    *os << c.name;
}

class CutShortIndex : public ::testing::TestWithParam<CutCase> {};

// An append of an earlier version that ended half way (a crash; today's appends leave a journal
// that takes them back) leaves a final record cut short, possibly with its message already in the
// mailbox. Nothing of it is cut: the reader lists the whole records and names the unreadable bytes,
// the next append covers the message with a record of its own and its own message is then found
// where the index says.
TEST_P(CutShortIndex, IsKeptAndAppendedAfter)
{
    ScratchDir dir;
    const std::string folder = dir.folder(kReceived);
    ASSERT_EQ(fileMessage(dir, kReceived, message(1)), StoreResult::Stored);
    ASSERT_EQ(fileMessage(dir, kReceived, message(2)), StoreResult::Stored);
    const std::string twoRecords = readBytes(folder + ".idx");
    const std::string twoMessages = readBytes(folder + ".mbx");

    // The third append as it would have been, from a copy of the folder.
    ScratchDir other;
    ASSERT_EQ(fileMessage(other, kReceived, message(3)), StoreResult::Stored);
    const std::string thirdRecord = readBytes(other.folder(kReceived) + ".idx");
    ASSERT_LT(GetParam().keptOfLastRecord, thirdRecord.size());
    appendBytes(folder + ".idx", thirdRecord.substr(0, GetParam().keptOfLastRecord));
    const std::string orphan = GetParam().mailboxHasThirdMessage ? message(3) : "";
    appendBytes(folder + ".mbx", orphan);
    const std::string indexBefore = readBytes(folder + ".idx");

    const auto cut = readFolderIndex(folder);
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->entries.size(), 2u);
    EXPECT_EQ(cut->cutShort, GetParam().keptOfLastRecord > 0);
    EXPECT_EQ(cut->placedEnd, twoMessages.size());

    const std::string fourth = message(4);
    ASSERT_EQ(fileMessage(dir, kReceived, fourth), StoreResult::Stored);
    EXPECT_EQ(readBytes(folder + ".mbx"), twoMessages + orphan + fourth);
    EXPECT_EQ(readBytes(folder + ".idx").substr(0, indexBefore.size()), indexBefore);
    const auto after = readFolderIndex(folder);
    ASSERT_TRUE(after);
    ASSERT_EQ(after->entries.size(), orphan.empty() ? 3u : 4u);
    EXPECT_EQ(after->unreadable.size(), GetParam().keptOfLastRecord > 0 ? 1u : 0u);
    EXPECT_FALSE(after->cutShort);
    if (!orphan.empty()) {
        const IndexEntry& recovered = after->entries[2];
        EXPECT_EQ(recovered.record.status, kStatusRead);
        EXPECT_EQ(recovered.record.subject, kRecoveredSubject);
        EXPECT_EQ(readFolderMessage(folder, recovered), orphan);
    }
    const IndexEntry& last = after->entries.back();
    EXPECT_EQ(last.record.subject, "m4");
    EXPECT_EQ(last.offset, twoMessages.size() + orphan.size());
    EXPECT_EQ(readFolderMessage(folder, last), fourth);
    EXPECT_EQ(readFolderMessage(folder, after->entries[1]), message(2));
}

INSTANTIATE_TEST_SUITE_P(Cases, CutShortIndex,
                         ::testing::Values(CutCase{"OneByteOfLength", 1, false}, CutCase{"LengthOnly", 4, true},
                                           CutCase{"WithoutBody", 8, true}, CutCase{"InsideTexts", 12, true},
                                           CutCase{"InsideBodySize", 8 + 12, false},
                                           CutCase{"OrphanMessageOnly", 0, true}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

// A mailbox cut short from outside: the message whose bytes are gone cannot be read (never a text
// taken from the wrong place), the others still can.
TEST(MailStoreFaults, MailboxShorterThanItsRecordsReadsWhatIsThere)
{
    ScratchDir dir;
    const std::string folder = dir.folder(kReceived);
    for (int n = 1; n <= 3; ++n)
        ASSERT_EQ(fileMessage(dir, kReceived, message(n)), StoreResult::Stored);
    const std::string full = readBytes(folder + ".mbx");
    const std::size_t lost = message(3).size() / 2;
    std::filesystem::resize_file(fsPath(folder + ".mbx"), full.size() - lost);

    const auto damaged = readFolderIndex(folder);
    ASSERT_TRUE(damaged);
    ASSERT_EQ(damaged->entries.size(), 3u);
    EXPECT_EQ(readFolderMessage(folder, damaged->entries[1]), message(2));
    EXPECT_FALSE(readFolderMessage(folder, damaged->entries[2]));
}

TEST(MailStoreFaults, IndexChangedBehindTheStoresBackIsScannedAgain)
{
    ScratchDir dir;
    const std::string folder = dir.folder(kReceived);
    ASSERT_EQ(fileMessage(dir, kReceived, message(1)), StoreResult::Stored);
    const std::string first = readBytes(folder + ".idx");
    // Replace the files with other ones of the same sizes: the store must not trust what it
    // remembered of the old ones.
    ASSERT_EQ(fileMessage(dir, kReceived, message(2)), StoreResult::Stored);
    const std::string withSecond = readBytes(folder + ".idx");
    std::filesystem::remove(fsPath(folder + ".idx"));
    writeBytes(folder + ".idx", withSecond + first.substr(0, 5));
    ASSERT_EQ(fileMessage(dir, kReceived, message(3)), StoreResult::Stored);
    const auto listing = readFolderIndex(folder);
    ASSERT_TRUE(listing);
    ASSERT_EQ(listing->entries.size(), 3u);
    EXPECT_FALSE(listing->cutShort);
    EXPECT_EQ(readFolderMessage(folder, listing->entries[2]), message(3));
}

} // namespace

} // namespace orvalink::store
