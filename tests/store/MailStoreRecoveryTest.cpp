// Nothing a folder stored is ever lost: whatever happened to its files between two appends (an
// index deleted, damaged or replaced by an older copy, a process killed half way through an
// append, two processes appending at once), the next append keeps every byte at its place, every
// whole record still reads, and the new mail lies where a reader finds it.
#include "store/FolderTestSupport.h"
#include "store/MailStore.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ORVALINK_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ORVALINK_TEST_SANITIZED 1
#endif
#endif

namespace orvalink::store {

using orvalink::test::appendBytes;
using orvalink::test::exists;
using orvalink::test::fileMessage;
using orvalink::test::fsPath;
using orvalink::test::le32;
using orvalink::test::readBytes;
using orvalink::test::ScratchDir;
using orvalink::test::writeBytes;

namespace {

const std::string kReceived(kReceivedFolder);

// Messages of different sizes, so that a record taken for another would show.
std::string message(int n)
{
    return "Received: x; d" + std::to_string(n) + "\r\nSubject: m" + std::to_string(n) + "\r\n\r\n" +
           std::string(static_cast<std::size_t>(17 * n + 3), static_cast<char>('a' + n % 26)) + "\r\n";
}

// The folder after five mails, and its index after the first three.
struct FiveMails {
    ScratchDir dir;
    std::string folder = dir.folder(kReceived);
    std::string index;
    std::string mailbox;
    std::string indexOfThree;

    FiveMails()
    {
        for (int n = 1; n <= 5; ++n) {
            EXPECT_EQ(fileMessage(dir, kReceived, message(n)), StoreResult::Stored);
            if (n == 3)
                indexOfThree = readBytes(folder + ".idx");
        }
        index = readBytes(folder + ".idx");
        mailbox = readBytes(folder + ".mbx");
    }
};

// Where record k starts in an index of whole records.
std::size_t recordStart(const std::string& index, int k)
{
    std::size_t pos = 0;
    for (int i = 0; i < k; ++i)
        pos += 8 + readU32(index.data() + pos);
    return pos;
}

void setLengthWord(FiveMails& f, int k, const std::function<std::uint32_t(std::uint32_t)>& change)
{
    std::string index = f.index;
    const std::size_t at = recordStart(index, k);
    index.replace(at, 4, le32(change(readU32(index.data() + at))));
    writeBytes(f.folder + ".idx", index);
}

struct DamageCase {
    const char* name;
    std::function<void(FiveMails&)> damage;
    // How many of the five records are still read from the index, in order from the first.
    int readable;
    // The record whose length word is wrong, or -1.
    int lengthWordWrong;
};

void PrintTo(const DamageCase& c, std::ostream* os)
{
    *os << c.name;
}

class DamagedFolder : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedFolder, NextAppendKeepsEveryStoredByte)
{
    FiveMails f;
    GetParam().damage(f);
    const std::string sixth = "Received: x; d6\r\nSubject: m6\r\n\r\nsix\r\n";
    ASSERT_EQ(fileMessage(f.dir, kReceived, sixth), StoreResult::Stored);

    const std::string mailbox = readBytes(f.folder + ".mbx");
    EXPECT_EQ(mailbox, f.mailbox + sixth);
    const auto listing = readFolderIndex(f.folder);
    ASSERT_TRUE(listing);
    EXPECT_TRUE(listing->unreadable.empty());
    const int readable = GetParam().readable;
    // The records still in the index, then one record for the mail it no longer lists, then the new one.
    const std::size_t expected = static_cast<std::size_t>(readable) + (readable < 5 ? 1 : 0) + 1;
    ASSERT_EQ(listing->entries.size(), expected);
    for (int k = 0; k < readable; ++k) {
        const IndexEntry& e = listing->entries[static_cast<std::size_t>(k)];
        EXPECT_EQ(e.record.subject, "m" + std::to_string(k + 1));
        EXPECT_EQ(readFolderMessage(f.folder, e), message(k + 1)) << "record " << k;
        EXPECT_EQ(e.lengthWordWrong, k == GetParam().lengthWordWrong) << "record " << k;
    }
    if (readable < 5) {
        const IndexEntry& recovered = listing->entries[static_cast<std::size_t>(readable)];
        EXPECT_EQ(recovered.record.status, kStatusRead);
        EXPECT_EQ(recovered.record.subject, kRecoveredSubject);
        std::string lost;
        for (int n = readable + 1; n <= 5; ++n)
            lost += message(n);
        EXPECT_EQ(readFolderMessage(f.folder, recovered), lost);
    }
    const IndexEntry& last = listing->entries.back();
    EXPECT_EQ(last.record.subject, "m6");
    EXPECT_EQ(last.offset, f.mailbox.size());
    EXPECT_EQ(readFolderMessage(f.folder, last), sixth);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedFolder,
    ::testing::Values(
        DamageCase{"IndexDeleted", [](FiveMails& f) { std::filesystem::remove(fsPath(f.folder + ".idx")); }, 0, -1},
        DamageCase{"OlderIndexRestored", [](FiveMails& f) { writeBytes(f.folder + ".idx", f.indexOfThree); }, 3, -1},
        DamageCase{"LengthWordHighByteSet",
                   [](FiveMails& f) { setLengthWord(f, 2, [](std::uint32_t l) { return l | 0x40000000u; }); }, 5, 2},
        DamageCase{"LengthWordOneMore",
                   [](FiveMails& f) { setLengthWord(f, 2, [](std::uint32_t l) { return l + 1; }); }, 5, 2},
        DamageCase{"LengthWordOneLess",
                   [](FiveMails& f) { setLengthWord(f, 1, [](std::uint32_t l) { return l - 1; }); }, 5, 1},
        DamageCase{"LengthWordZero", [](FiveMails& f) { setLengthWord(f, 3, [](std::uint32_t) { return 0u; }); }, 5, 3},
        DamageCase{"LengthWordPastTheFile",
                   [](FiveMails& f) { setLengthWord(f, 0, [](std::uint32_t) { return 0xFFFFFFFFu; }); }, 5, 0},
        DamageCase{"LastLengthWordLonger",
                   [](FiveMails& f) { setLengthWord(f, 4, [](std::uint32_t l) { return l + 100; }); }, 5, 4}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// Bytes from which no record at all can be read (a length word and a terminator both damaged)
// hide what the record said, but not the records after it, nor any stored byte: the reader names
// the bytes it could not read, and the records after them are found from the mailbox's end.
TEST(MailStoreRecovery, UnreadableRecordInTheMiddleHidesNothingElse)
{
    FiveMails f;
    std::string index = f.index;
    const std::size_t at = recordStart(index, 2);
    index.replace(at, 4, le32(0x7FFFFFFFu));
    index[at + 8] = 'X'; // the empty sender's terminator
    writeBytes(f.folder + ".idx", index);

    const auto before = readFolderIndex(f.folder);
    ASSERT_TRUE(before);
    ASSERT_EQ(before->entries.size(), 4u);
    ASSERT_EQ(before->unreadable.size(), 1u);
    EXPECT_EQ(before->unreadable[0].begin, at);
    EXPECT_EQ(before->unreadable[0].end, recordStart(f.index, 3));
    EXPECT_FALSE(before->cutShort);
    for (std::size_t k = 0; k < 4; ++k)
        EXPECT_EQ(readFolderMessage(f.folder, before->entries[k]), message(k < 2 ? int(k) + 1 : int(k) + 2));

    const std::string sixth = message(6);
    ASSERT_EQ(fileMessage(f.dir, kReceived, sixth), StoreResult::Stored);
    EXPECT_EQ(readBytes(f.folder + ".mbx"), f.mailbox + sixth);
    EXPECT_EQ(readBytes(f.folder + ".idx").substr(0, index.size()), index);
    const auto after = readFolderIndex(f.folder);
    ASSERT_TRUE(after);
    ASSERT_EQ(after->entries.size(), 5u);
    EXPECT_EQ(after->entries[3].record.subject, "m5");
    EXPECT_EQ(readFolderMessage(f.folder, after->entries[3]), message(5));
    EXPECT_EQ(readFolderMessage(f.folder, after->entries[4]), sixth);
}

// Unreadable bytes in the middle of the index, and mailbox bytes after the last message that no
// record explains (a message whose record was never written, bytes added from outside): the records
// after the unreadable bytes still show their own messages, and the next append gives the bytes at
// the end a record of their own, before its new mail, so that they stay readable and every later
// listing, by this program or by one that places by sizes alone, finds each message where it is.
struct TrailingCase {
    const char* name;
    // The records made unreadable, from the first.
    int damagedFrom;
    int damagedTo;
    std::string trailing;
};

void PrintTo(const TrailingCase& c, std::ostream* os)
{
    *os << c.name;
}

class GapAndTrailingBytes : public ::testing::TestWithParam<TrailingCase> {};

TEST_P(GapAndTrailingBytes, EveryRecordShowsItsOwnMessage)
{
    const TrailingCase& c = GetParam();
    FiveMails f;
    std::string index = f.index;
    for (int k = c.damagedFrom; k <= c.damagedTo; ++k) {
        const std::size_t at = recordStart(f.index, k);
        index.replace(at, 4, le32(0x7FFFFFFFu));
        index[at + 8] = 'X'; // the empty sender's terminator
    }
    writeBytes(f.folder + ".idx", index);
    appendBytes(f.folder + ".mbx", c.trailing);
    std::vector<int> kept;
    for (int n = 1; n <= 5; ++n)
        if (n - 1 < c.damagedFrom || n - 1 > c.damagedTo)
            kept.push_back(n);

    const auto expectKeptShown = [&](const IndexListing& listing) {
        ASSERT_GE(listing.entries.size(), kept.size());
        for (std::size_t k = 0; k < kept.size(); ++k) {
            EXPECT_EQ(listing.entries[k].record.subject, "m" + std::to_string(kept[k])) << "record " << k;
            EXPECT_EQ(readFolderMessage(f.folder, listing.entries[k]), message(kept[k])) << "record " << k;
        }
    };
    const auto before = readFolderIndex(f.folder);
    ASSERT_TRUE(before);
    ASSERT_EQ(before->entries.size(), kept.size());
    expectKeptShown(*before);
    EXPECT_TRUE(before->endUnclaimed());
    EXPECT_EQ(before->placedEnd, f.mailbox.size());

    for (int n = 6; n <= 7; ++n) {
        SCOPED_TRACE("after appending m" + std::to_string(n));
        ASSERT_EQ(fileMessage(f.dir, kReceived, message(n)), StoreResult::Stored);
        std::string stored = f.mailbox + c.trailing;
        for (int m = 6; m <= n; ++m)
            stored += message(m);
        EXPECT_EQ(readBytes(f.folder + ".mbx"), stored);
        EXPECT_EQ(readBytes(f.folder + ".idx").substr(0, index.size()), index);

        const auto after = readFolderIndex(f.folder);
        ASSERT_TRUE(after);
        ASSERT_EQ(after->entries.size(), kept.size() + 1 + static_cast<std::size_t>(n - 5));
        expectKeptShown(*after);
        const IndexEntry& recovered = after->entries[kept.size()];
        EXPECT_EQ(recovered.record.subject, kRecoveredSubject);
        EXPECT_EQ(recovered.record.status, kStatusRead);
        EXPECT_EQ(readFolderMessage(f.folder, recovered), c.trailing);
        for (int m = 6; m <= n; ++m) {
            const IndexEntry& e = after->entries[kept.size() + static_cast<std::size_t>(m - 5)];
            EXPECT_EQ(e.record.subject, "m" + std::to_string(m));
            EXPECT_EQ(readFolderMessage(f.folder, e), message(m));
        }
        EXPECT_FALSE(after->endUnclaimed());
        // By sizes alone the records after the gap now end where the mailbox ends, as they should.
        IndexListing bySizes = parseIndex(readBytes(f.folder + ".idx"));
        placeMessages(bySizes, stored.size());
        ASSERT_EQ(bySizes.entries.size(), after->entries.size());
        for (std::size_t k = 0; k < bySizes.entries.size(); ++k)
            EXPECT_EQ(bySizes.entries[k].offset, after->entries[k].offset) << "record " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, GapAndTrailingBytes,
                         ::testing::Values(TrailingCase{"MessageWithoutRecord", 2, 2,
                                                        "Received: x; d9\r\nSubject: stray\r\n\r\nnever indexed\r\n"},
                                           TrailingCase{"BytesWithoutLineEnd", 2, 2, "garbage"},
                                           TrailingCase{"TwoRecordsUnreadable", 1, 2, message(3)},
                                           TrailingCase{"TrailingLongerThanTheGap", 3, 3,
                                                        std::string(5000, 'z') + "\r\n"}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

// A body size damaged to near 4 GiB is refused by the reader before anything is allocated for it.
TEST(MailStoreRecovery, BodySizePastTheMailboxIsRefusedWithoutAllocating)
{
    FiveMails f;
    std::string index = f.index;
    const std::size_t sizeAt = recordStart(index, 5) - 4;
    index.replace(sizeAt, 4, le32(0xFFFFFFF0u));
    writeBytes(f.folder + ".idx", index);
    const auto listing = readFolderIndex(f.folder);
    ASSERT_TRUE(listing);
    ASSERT_EQ(listing->entries.size(), 5u);
    EXPECT_EQ(readFolderMessage(f.folder, listing->entries[3]), message(4));

#ifndef ORVALINK_TEST_SANITIZED
    // In a child limited to 256 MiB of address space, reading the record must not fail for lack
    // of memory. (Sanitizers reserve far more address space than that, so only the plain build.)
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rlimit limit{256u << 20, 256u << 20};
        ::setrlimit(RLIMIT_AS, &limit);
        try {
            ::_exit(readFolderMessage(f.folder, listing->entries[4]) ? 1 : 0);
        } catch (...) {
            ::_exit(2);
        }
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
#endif
    if (!HasFailure()) {
        EXPECT_FALSE(readFolderMessage(f.folder, listing->entries[4]));
    }
}

// A mailbox shorter than its records say is grown only when the append itself created it (the index
// outlived its mailbox): bytes nobody wrote never go into a file that was there before.
TEST(MailStoreRecovery, MailboxShorterThanItsRecordsIsFilledOnlyWhenTheAppendMadeIt)
{
    struct Case {
        const char* name;
        std::function<void(FiveMails&)> damage;
        bool stored;
    };
    const std::vector<Case> cases = {
        {"cut from outside",
         [](FiveMails& f) { std::filesystem::resize_file(fsPath(f.folder + ".mbx"), f.mailbox.size() - 30); }, false},
        {"body size damaged to near 4 GiB",
         [](FiveMails& f) {
             std::string index = f.index;
             index.replace(recordStart(index, 5) - 4, 4, le32(0xFFFFFFF0u));
             writeBytes(f.folder + ".idx", index);
         },
         false},
        {"mailbox deleted", [](FiveMails& f) { std::filesystem::remove(fsPath(f.folder + ".mbx")); }, true},
    };
    for (const Case& c : cases) {
        FiveMails f;
        c.damage(f);
        const std::string index = readBytes(f.folder + ".idx");
        const bool hadMailbox = exists(f.folder + ".mbx");
        const std::string mailbox = hadMailbox ? readBytes(f.folder + ".mbx") : std::string();
        const std::string sixth = message(6);
        EXPECT_EQ(fileMessage(f.dir, kReceived, sixth), c.stored ? StoreResult::Stored : StoreResult::CannotOpen)
            << c.name;
        if (!c.stored) {
            EXPECT_EQ(readBytes(f.folder + ".idx"), index) << c.name;
            // The size first: a mailbox grown to gigabytes is not read in.
            ASSERT_EQ(std::filesystem::file_size(fsPath(f.folder + ".mbx")), mailbox.size()) << c.name;
            EXPECT_EQ(readBytes(f.folder + ".mbx"), mailbox) << c.name;
            continue;
        }
        // The records keep their places: the new mail follows the five as a hole in the file.
        struct stat st {};
        ASSERT_EQ(::stat(fsPath(f.folder + ".mbx").c_str(), &st), 0);
        EXPECT_EQ(static_cast<std::uint64_t>(st.st_size), f.mailbox.size() + sixth.size()) << c.name;
        const auto listing = readFolderIndex(f.folder);
        ASSERT_TRUE(listing);
        ASSERT_EQ(listing->entries.size(), 6u) << c.name;
        EXPECT_EQ(readFolderMessage(f.folder, listing->entries[5]), sixth) << c.name;
    }
}

// A folder file replaced by a symbolic link is refused; the file it leads to is not touched.
TEST(MailStoreRecovery, FolderFileThatIsALinkIsRefused)
{
    for (const char* suffix : {".idx", ".mbx", ".jnl"}) {
        FiveMails f;
        const std::string outside = f.dir.path() + "/outside";
        writeBytes(outside, "outside bytes");
        const std::string link = f.folder + suffix;
        std::filesystem::remove(fsPath(link));
        std::filesystem::create_symlink(fsPath(outside), fsPath(link));
        EXPECT_EQ(fileMessage(f.dir, kReceived, message(6)), StoreResult::CannotOpen) << suffix;
        EXPECT_EQ(readBytes(outside), "outside bytes") << suffix;
        EXPECT_TRUE(std::filesystem::is_symlink(fsPath(link))) << suffix;
    }
}

// A message file past the 32-bit body size is refused before any folder file is made.
TEST(MailStoreRecovery, MessageOver4GiBIsRefusedBeforeWriting)
{
    ScratchDir dir;
    const std::string file = dir.path() + "/huge.qel";
    writeBytes(file, "Subject: huge\r\n\r\n");
    std::filesystem::resize_file(fsPath(file), (std::uint64_t{1} << 32) + 1); // a hole: no disk space
    EXPECT_EQ(AppendReceivedMessage(dir.path(), kReceived, file), StoreResult::WriteFailed);
    EXPECT_FALSE(exists(dir.folder(kReceived) + ".mbx"));
    EXPECT_FALSE(exists(dir.folder(kReceived) + ".idx"));
}

// What an interrupted append leaves, made by hand: a journal entry and bytes after the five mails.
// Only a journal that is whole and names these very files at sizes they have grown from takes the
// bytes back; any other journal leaves them, and they stay readable under a record of their own.
std::string journalBytes(std::string_view magic, const std::array<std::uint64_t, 6>& values, bool goodSum)
{
    std::string bytes(magic);
    for (std::uint64_t v : values)
        for (int shift = 0; shift < 64; shift += 8)
            bytes.push_back(static_cast<char>((v >> shift) & 0xFF));
    std::uint64_t sum = 14695981039346656037ull;
    for (const char c : bytes) {
        sum ^= static_cast<unsigned char>(c);
        sum *= 1099511628211ull;
    }
    if (!goodSum)
        sum ^= 1;
    for (int shift = 0; shift < 64; shift += 8)
        bytes.push_back(static_cast<char>((sum >> shift) & 0xFF));
    return bytes;
}

TEST(MailStoreRecovery, HandMadeJournalsTakeBackOnlyWhatTheirAppendAdded)
{
    struct Case {
        const char* name;
        // The journal, from the files as the five mails left them.
        std::function<std::string(const struct stat& index, const struct stat& mailbox)> journal;
        bool takenBack;
    };
    const auto values = [](const struct stat& i, const struct stat& m, std::int64_t indexDelta,
                           std::int64_t mailboxDelta, std::uint64_t inodeDelta) {
        return std::array<std::uint64_t, 6>{static_cast<std::uint64_t>(i.st_dev),
                                            static_cast<std::uint64_t>(i.st_ino),
                                            static_cast<std::uint64_t>(i.st_size + indexDelta),
                                            static_cast<std::uint64_t>(m.st_dev),
                                            static_cast<std::uint64_t>(m.st_ino) + inodeDelta,
                                            static_cast<std::uint64_t>(m.st_size + mailboxDelta)};
    };
    const std::vector<Case> cases = {
        {"whole", [&](auto& i, auto& m) { return journalBytes("OLJ1", values(i, m, 0, 0, 0), true); }, true},
        {"bad check sum", [&](auto& i, auto& m) { return journalBytes("OLJ1", values(i, m, 0, 0, 0), false); }, false},
        {"cleared", [&](auto& i, auto& m) { return journalBytes("OLJ0", values(i, m, 0, 0, 0), true); }, false},
        {"cut short", [&](auto& i, auto& m) { return journalBytes("OLJ1", values(i, m, 0, 0, 0), true).substr(0, 40); },
         false},
        {"mailbox replaced", [&](auto& i, auto& m) { return journalBytes("OLJ1", values(i, m, 0, 0, 1), true); },
         false},
        {"mailbox shorter than recorded",
         [&](auto& i, auto& m) { return journalBytes("OLJ1", values(i, m, 0, 1000, 0), true); }, false},
    };
    const std::string stray = "half of a message that was being appended\r\n";
    for (const Case& c : cases) {
        FiveMails f;
        struct stat indexStat {};
        struct stat mailboxStat {};
        ASSERT_EQ(::stat(fsPath(f.folder + ".idx").c_str(), &indexStat), 0);
        ASSERT_EQ(::stat(fsPath(f.folder + ".mbx").c_str(), &mailboxStat), 0);
        writeBytes(f.folder + ".jnl", c.journal(indexStat, mailboxStat));
        appendBytes(f.folder + ".mbx", stray);
        EXPECT_EQ(hasInterruptedAppend(f.folder),
                  std::string_view(c.name) == "whole" || std::string_view(c.name).starts_with("mailbox"))
            << c.name;

        const std::string sixth = message(6);
        ASSERT_EQ(fileMessage(f.dir, kReceived, sixth), StoreResult::Stored) << c.name;
        EXPECT_EQ(readBytes(f.folder + ".mbx"), f.mailbox + (c.takenBack ? "" : stray) + sixth) << c.name;
        const auto listing = readFolderIndex(f.folder);
        ASSERT_TRUE(listing);
        ASSERT_EQ(listing->entries.size(), c.takenBack ? 6u : 7u) << c.name;
        if (!c.takenBack) {
            EXPECT_EQ(listing->entries[5].record.subject, kRecoveredSubject) << c.name;
            EXPECT_EQ(readFolderMessage(f.folder, listing->entries[5]), stray) << c.name;
        }
        EXPECT_EQ(readFolderMessage(f.folder, listing->entries.back()), sixth) << c.name;
    }
}

// Reads what a child reports through a pipe: one byte per append it finished.
std::size_t drain(int fd, bool wait)
{
    char buffer[256];
    std::size_t total = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, wait && total == 0 ? 1 : sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return total;
        total += static_cast<std::size_t>(n);
        if (wait)
            return total;
    }
}

// A child appends in a loop and is killed with SIGKILL, many times, at moments spread over the
// append: right after an append reported success, and while the journal says one is under way.
// The next append keeps every mail whose append had reported success, byte for byte at its place,
// takes back what the killed append had written (or keeps it whole when it had written all of it),
// and its own mail is found where the index says.
TEST(MailStoreRecovery, ProcessKilledDuringAppendsLosesNoStoredMail)
{
    constexpr int kRounds = 16;
    int interrupted = 0;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        FiveMails f;
        // Large messages make each append take a while, so that kills land inside them.
        std::vector<std::string> messages;
        for (int m = 0; m < 3; ++m) {
            messages.push_back("Received: x; k\r\nSubject: k" + std::to_string(m) + "\r\n\r\n" +
                               std::string(static_cast<std::size_t>(60000 + 30000 * m), static_cast<char>('p' + m)) +
                               "\r\n");
            writeBytes(f.dir.path() + "/k" + std::to_string(m) + ".qel", messages.back());
        }
        int report[2];
        ASSERT_EQ(::pipe(report), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(report[0]);
            for (int i = 0;; ++i) {
                const std::string file = f.dir.path() + "/k" + std::to_string(i % 3) + ".qel";
                if (AppendReceivedMessage(f.dir.path(), kReceived, file) != StoreResult::Stored)
                    ::_exit(1);
                if (::write(report[1], "+", 1) != 1)
                    ::_exit(1);
            }
        }
        ::close(report[1]);
        std::size_t confirmed = drain(report[0], true);
        if (round % 2 == 0) {
            // Killed while the journal is there: some append is under way.
            orvalink::test::waitUntil([&] { return hasInterruptedAppend(f.folder); }, 5000, 0);
        } else {
            for (int more = round % 5; more > 0; --more)
                confirmed += drain(report[0], true);
        }
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended by itself: " << status;
        confirmed += drain(report[0], false);
        ::close(report[0]);

        if (hasInterruptedAppend(f.folder))
            ++interrupted;
        std::string stored = f.mailbox;
        for (std::size_t i = 0; i < confirmed; ++i)
            stored += messages[i % 3];

        const std::string after = "Received: x; z\r\nSubject: after\r\n\r\nafter\r\n";
        ASSERT_EQ(fileMessage(f.dir, kReceived, after), StoreResult::Stored);
        EXPECT_FALSE(hasInterruptedAppend(f.folder));
        const std::string mailbox = readBytes(f.folder + ".mbx");
        ASSERT_GE(mailbox.size(), stored.size());
        EXPECT_TRUE(mailbox.compare(0, stored.size(), stored) == 0);

        const auto listing = readFolderIndex(f.folder);
        ASSERT_TRUE(listing);
        EXPECT_TRUE(listing->unreadable.empty());
        // The five, the confirmed ones, perhaps the killed append when it had written everything,
        // and the new one.
        const std::size_t kept = 5 + confirmed;
        ASSERT_TRUE(listing->entries.size() == kept + 1 || listing->entries.size() == kept + 2)
            << listing->entries.size() << " records, " << kept << " kept";
        for (std::size_t k = 0; k + 1 < listing->entries.size(); ++k) {
            const IndexEntry& e = listing->entries[k];
            EXPECT_NE(e.record.subject, kRecoveredSubject);
            EXPECT_EQ(readFolderMessage(f.folder, e), k < 5 ? message(int(k) + 1) : messages[(k - 5) % 3])
                << "record " << k;
        }
        const IndexEntry& last = listing->entries.back();
        EXPECT_EQ(last.record.subject, "after");
        EXPECT_EQ(last.offset + last.record.bodySize, mailbox.size());
        EXPECT_EQ(readFolderMessage(f.folder, last), after);
        if (HasFailure())
            break;
    }
    // The kills while the journal was there must have found some append under way.
    EXPECT_GT(interrupted, 0);
}

// Two processes share a mail directory and file into one folder at the same time: the lock on the
// folder's files keeps their appends apart, so every mail is whole, once, where its record says.
// The messages are large, so that each append writes its mailbox part in several pieces.
TEST(MailStoreRecovery, TwoProcessesAppendingToOneFolderKeepItConsistent)
{
    constexpr int kPerProcess = 30;
    ScratchDir dir;
    const auto text = [](int process, int i) {
        return "Received: x; p\r\nSubject: " + std::to_string(process) + "-" + std::to_string(i) + "\r\n\r\n" +
               std::string(static_cast<std::size_t>(70000 + 40000 * (i % 4)), static_cast<char>('a' + process)) +
               "\r\n";
    };
    // Both children start together when the parent closes the gate's writing end.
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    pid_t children[2];
    for (int process = 0; process < 2; ++process) {
        children[process] = ::fork();
        ASSERT_GE(children[process], 0);
        if (children[process] == 0) {
            ::close(gate[1]);
            char byte;
            while (::read(gate[0], &byte, 1) < 0 && errno == EINTR) {
            }
            const std::string file = dir.path() + "/p" + std::to_string(process) + ".qel";
            for (int i = 0; i < kPerProcess; ++i) {
                writeBytes(file, text(process, i));
                if (AppendReceivedMessage(dir.path(), kReceived, file) != StoreResult::Stored)
                    ::_exit(1);
            }
            ::_exit(0);
        }
    }
    ::close(gate[0]);
    ::close(gate[1]);
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const std::string folder = dir.folder(kReceived);
    const auto listing = readFolderIndex(folder);
    ASSERT_TRUE(listing);
    EXPECT_TRUE(listing->unreadable.empty());
    ASSERT_EQ(listing->entries.size(), 2u * kPerProcess);
    EXPECT_EQ(listing->mailboxBytes, readBytes(folder + ".mbx").size());
    int next[2] = {0, 0};
    for (const IndexEntry& e : listing->entries) {
        const std::string& subject = e.record.subject;
        ASSERT_GE(subject.size(), 3u);
        const int process = subject[0] - '0';
        ASSERT_TRUE(process == 0 || process == 1) << subject;
        // Each process's mails come in the order it filed them.
        EXPECT_EQ(subject.substr(2), std::to_string(next[process]));
        EXPECT_EQ(readFolderMessage(folder, e), text(process, next[process])) << subject;
        ++next[process];
    }
}

// A user's mail is nobody else's to read: whatever the umask allows, the folder files and the
// journal beside them are created owner-only.
TEST(MailStoreRecovery, FolderFilesAreCreatedOwnerOnly)
{
    const mode_t oldMask = ::umask(0);
    ScratchDir dir;
    const StoreResult received = fileMessage(dir, kReceived, message(1));
    const StoreResult saved = AppendSavedMail(dir.path(), "f", "t", "s", "b");
    ::umask(oldMask);
    ASSERT_EQ(received, StoreResult::Stored);
    ASSERT_EQ(saved, StoreResult::Stored);
    for (const std::string& folder : {dir.folder(kReceived), dir.folder(kSavedFolder)})
        for (std::string_view suffix : {kIndexSuffix, kMailboxSuffix, kJournalSuffix}) {
            struct stat st {};
            ASSERT_EQ(::stat(fsPath(folder + std::string(suffix)).c_str(), &st), 0) << suffix;
            EXPECT_EQ(st.st_mode & 0777, 0600u) << suffix;
        }
}

} // namespace

} // namespace orvalink::store
