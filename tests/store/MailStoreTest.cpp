#include "store/MailStore.h"

#include "platform/text/ByteEscape.h"
#include "store/FolderTestSupport.h"
#include "store/IndexView.h"
#include "store/ReceivedHeaderScan.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

namespace orvalink::store {

using orvalink::test::appendBytes;
using orvalink::test::exists;
using orvalink::test::fileMessage;
using orvalink::test::le32;
using orvalink::test::readBytes;
using orvalink::test::ScratchDir;
using orvalink::test::writeBytes;

namespace {

const std::string kReceived(kReceivedFolder);
const std::string kSaved(kSavedFolder);

// An index record built by hand from the layout, independent of the store's encoder.
std::string handRecord(std::uint32_t status, const std::vector<std::string>& texts, std::uint32_t bodySize)
{
    std::string body;
    for (const std::string& t : texts)
        body += t + '\0';
    body += le32(bodySize);
    return le32(static_cast<std::uint32_t>(body.size())) + le32(status) + body;
}

// A received message of exactly `size` bytes, CR LF line ends, with a subject naming it.
std::string messageOfSize(const std::string& subject, std::size_t size)
{
    std::string m = "Received: from a; now\r\nSubject: " + subject + "\r\n\r\n";
    while (m.size() + 2 < size)
        m += 'x';
    m += "\r\n";
    if (m.size() != size)
        throw std::logic_error("message size too small");
    return m;
}

// Walks the index file as raw bytes and checks that each record's body size, read after the sixth
// terminator, is the same as the record body's last four bytes.
void expectSizeFieldsAgree(const std::string& index)
{
    std::size_t pos = 0;
    while (pos < index.size()) {
        ASSERT_LE(pos + 8, index.size());
        const std::uint32_t length = readU32(index.data() + pos);
        ASSERT_LE(pos + 8 + length, index.size());
        std::size_t p = pos + 8;
        for (int field = 0; field < 6; ++field) {
            const std::size_t nul = index.find('\0', p);
            ASSERT_LT(nul, pos + 8 + length);
            p = nul + 1;
        }
        ASSERT_EQ(p + 4, pos + 8 + length) << "the body size is not the last field";
        EXPECT_EQ(readU32(index.data() + p), readU32(index.data() + pos + 8 + length - 4));
        pos += 8 + length;
    }
}

TEST(MailStore, EmptyFolderReadsEmptyAndFirstAppendCreatesBothFiles)
{
    ScratchDir dir;
    const std::string folder = dir.folder(kReceived);
    const auto before = readFolderIndex(folder);
    ASSERT_TRUE(before);
    EXPECT_TRUE(before->entries.empty());
    EXPECT_FALSE(before->cutShort);
    EXPECT_FALSE(exists(folder + ".idx"));

    const std::string message = "Received: by mx; Wed, 03 Jan 2024\r\n"
                                "From: a@b\r\n"
                                "To: taro\r\n"
                                "Subject:Hello\r\n"
                                "\r\n"
                                "body\r\n";
    ASSERT_EQ(fileMessage(dir, kReceived, message), StoreResult::Stored);

    EXPECT_EQ(readBytes(folder + ".mbx"), message);
    EXPECT_EQ(readBytes(folder + ".idx"), handRecord(1, {"a@b", "ello", "taro", "Wed, 03 Jan 2024", "", ""},
                                                     static_cast<std::uint32_t>(message.size())));
}

TEST(MailStore, MessageWithoutSubjectStillHasAFullRecord)
{
    ScratchDir dir;
    const std::string message = "Received: x\r\nFrom: a\r\n\r\nno subject here\r\n";
    ASSERT_EQ(fileMessage(dir, kReceived, message), StoreResult::Stored);
    EXPECT_EQ(readBytes(dir.folder(kReceived) + ".idx"),
              handRecord(1, {"a", "", "", "", "", ""}, static_cast<std::uint32_t>(message.size())));
}

TEST(MailStore, MessagesAreLocatedBySummingBodySizes)
{
    ScratchDir dir;
    const std::string folder = dir.folder(kReceived);
    const std::vector<std::string> messages = {messageOfSize("one", 100), messageOfSize("two", 250),
                                               messageOfSize("three", 60)};
    for (const std::string& m : messages)
        ASSERT_EQ(fileMessage(dir, kReceived, m), StoreResult::Stored);

    const auto listing = readFolderIndex(folder);
    ASSERT_TRUE(listing);
    ASSERT_EQ(listing->entries.size(), 3u);
    const std::uint64_t offsets[] = {0, 100, 350};
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(listing->entries[k].offset, offsets[k]);
        EXPECT_EQ(readFolderMessage(folder, listing->entries[k]), messages[k]);
    }
    EXPECT_EQ(listing->entries[2].record.subject, "three");
    EXPECT_EQ(listing->mailboxBytes, 410u);
    expectSizeFieldsAgree(readBytes(folder + ".idx"));
}

struct LineEndCase {
    const char* name;
    std::string file;
    std::string stored;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const LineEndCase& c, std::ostream* os)
{
    *os << c.name;
}

class ReceivedLineEnds : public ::testing::TestWithParam<LineEndCase> {};

// The mailbox gets each line of the file followed by CR LF, and the record's body size is the
// number of bytes that really went to the mailbox.
TEST_P(ReceivedLineEnds, StoredWithCrLfAndCountedAsStored)
{
    ScratchDir dir;
    const std::string folder = dir.folder(kReceived);
    ASSERT_EQ(fileMessage(dir, kReceived, GetParam().file), StoreResult::Stored);
    EXPECT_EQ(readBytes(folder + ".mbx"), GetParam().stored);
    const auto listing = readFolderIndex(folder);
    ASSERT_TRUE(listing);
    ASSERT_EQ(listing->entries.size(), 1u);
    EXPECT_EQ(listing->entries[0].record.bodySize, GetParam().stored.size());
}

INSTANTIATE_TEST_SUITE_P(Cases, ReceivedLineEnds,
                         ::testing::Values(LineEndCase{"CrLfKept", "a\r\nb\r\n", "a\r\nb\r\n"},
                                           LineEndCase{"BareLfBecomesCrLf", "a\nb\n", "a\r\nb\r\n"},
                                           LineEndCase{"LastLineGetsLineEnd", "a\r\nb", "a\r\nb\r\n"},
                                           LineEndCase{"LoneCrIsText", "a\rb\r\n", "a\rb\r\n"},
                                           LineEndCase{"CrAtEndIsText", "a\r", "a\r\r\n"},
                                           LineEndCase{"EmptyFile", "", ""},
                                           LineEndCase{"EmptyLines", "\r\n\n", "\r\n\r\n"}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

// The message is read in pieces (the searched start, then fixed chunks); a line end split between
// two pieces must still be copied as one CR LF, and a lone CR at a piece's end stays text.
TEST(MailStore, LineEndsSplitBetweenReadsAreCopiedOnce)
{
    ScratchDir dir;
    const std::string folder = dir.folder(kReceived);
    for (const std::size_t crAt : {kHeaderSearchBytes - 1, kHeaderSearchBytes + 65536 - 1}) {
        std::string file(crAt, 'y');
        file.replace(0, 6, "X: 1\r\n");
        std::string stored = file;
        file += "\r\nnext\rline\r";
        stored += "\r\nnext\rline\r\r\n";
        std::string loneCr = std::string(crAt, 'z') + "\rz\n";
        ASSERT_EQ(fileMessage(dir, kReceived, file), StoreResult::Stored);
        ASSERT_EQ(fileMessage(dir, kReceived, loneCr), StoreResult::Stored);
        const auto listing = readFolderIndex(folder);
        ASSERT_TRUE(listing);
        ASSERT_GE(listing->entries.size(), 2u);
        const std::size_t n = listing->entries.size();
        EXPECT_EQ(readFolderMessage(folder, listing->entries[n - 2]), stored);
        EXPECT_EQ(readFolderMessage(folder, listing->entries[n - 1]), std::string(crAt, 'z') + "\rz\r\n");
    }
}

TEST(MailStore, SavedCompositionRecordIsExact)
{
    ScratchDir dir;
    const std::string folder = dir.folder(kSaved);
    const std::time_t savedAt = 1700000000;
    const std::string date = formatSavedMailDate(savedAt);
    ASSERT_EQ(AppendSavedMail(dir.path(), "f", "t", "s", "xy", savedAt), StoreResult::Stored);

    const std::string index = readBytes(folder + ".idx");
    const std::string mailer = "Orvalink Version 1.0";
    const std::uint32_t length = static_cast<std::uint32_t>(3 + date.size() + mailer.size() + 10);
    EXPECT_EQ(index, le32(length) + le32(0) + "f" + '\0' + "s" + '\0' + "t" + '\0' + date + '\0' + '\0' + mailer +
                         '\0' + le32(2));
    EXPECT_EQ(readBytes(folder + ".mbx"), "xy");
    expectSizeFieldsAgree(index);
}

TEST(MailStore, SavedMailDateUsesEnglishNamesAndFixedZone)
{
    {
        orvalink::test::ScopedTimeZone utc("UTC0");
        EXPECT_EQ(formatSavedMailDate(0), "Thu, 01 Jan 1970 00:00:00 +0900");
        EXPECT_EQ(formatSavedMailDate(1700000000), "Tue, 14 Nov 2023 22:13:20 +0900");
    }
    orvalink::test::ScopedTimeZone japan("JST-9");
    EXPECT_EQ(formatSavedMailDate(1700000000), "Wed, 15 Nov 2023 07:13:20 +0900");
}

TEST(MailStore, SavedMailWithEmptyBodyHasSizeZero)
{
    ScratchDir dir;
    const std::string folder = dir.folder(kSaved);
    ASSERT_EQ(AppendSavedMail(dir.path(), "f", "t", "s", "first"), StoreResult::Stored);
    ASSERT_EQ(AppendSavedMail(dir.path(), "f", "t", "s", ""), StoreResult::Stored);
    const auto listing = readFolderIndex(folder);
    ASSERT_TRUE(listing);
    ASSERT_EQ(listing->entries.size(), 2u);
    EXPECT_EQ(listing->entries[1].record.bodySize, 0u);
    EXPECT_EQ(listing->entries[1].offset, 5u);
    EXPECT_EQ(listing->entries[1].record.status, 0u);
    EXPECT_EQ(readBytes(folder + ".mbx"), "first");
}

// Texts from the compose boxes must not break the record: a NUL would shift every field after
// it, so each text ends at its first NUL or line break. Nothing else is cut: the 999-byte limit is
// for fields taken from a received message, and a composition's texts are kept whole.
TEST(MailStore, SavedMailTextsAreMadeRecordFields)
{
    ScratchDir dir;
    const std::string longSubject = std::string(997, 's') + "\x88\x9f\x88\x9f";
    ASSERT_EQ(AppendSavedMail(dir.path(), std::string("from\0x", 6), "to\r\nBcc: other", longSubject, "b"),
              StoreResult::Stored);
    const auto listing = readFolderIndex(dir.folder(kSaved));
    ASSERT_TRUE(listing);
    ASSERT_EQ(listing->entries.size(), 1u);
    const IndexEntry& e = listing->entries[0];
    EXPECT_FALSE(e.damaged);
    EXPECT_EQ(e.record.sender, "from");
    EXPECT_EQ(e.record.recipient, "to");
    EXPECT_EQ(e.record.subject, longSubject);
    EXPECT_EQ(e.record.mailer, "Orvalink Version 1.0");
    EXPECT_EQ(e.record.headerDate, "");
}

// A composition's From, To and Subject are kept whole up to what one record can hold; beyond it
// the save is refused with a reason to show, and nothing is written.
struct LongFieldsCase {
    const char* name;
    std::size_t sender;
    std::size_t recipient;
    std::size_t subject;
    bool fits;
};

void PrintTo(const LongFieldsCase& c, std::ostream* os)
{
    *os << c.name;
}

class SavedMailLongFields : public ::testing::TestWithParam<LongFieldsCase> {};

// The record body beside the three texts: the date, the mailer, six terminators and the body size.
constexpr std::size_t kSavedRecordOverhead = 31 + 20 + 10;

TEST_P(SavedMailLongFields, AreKeptWholeOrRefused)
{
    ScratchDir dir;
    const std::string folder = dir.folder(kSaved);
    ASSERT_EQ(AppendSavedMail(dir.path(), "f", "t", "s", "first"), StoreResult::Stored);
    const std::string index = readBytes(folder + ".idx");
    // Double-byte text, so that a cut would also have to find a character boundary.
    const auto longText = [](std::size_t n, char last) { return std::string(n - 1, '\x82') + last; };
    const std::string sender = longText(GetParam().sender, 'f');
    const std::string recipient = longText(GetParam().recipient, 't');
    const std::string subject = longText(GetParam().subject, 's');
    const StoreResult result = AppendSavedMail(dir.path(), sender, recipient, subject, "body", 1700000000);
    if (!GetParam().fits) {
        EXPECT_EQ(result, StoreResult::TooLarge);
        EXPECT_FALSE(storeResultText(result).empty());
        EXPECT_EQ(readBytes(folder + ".idx"), index);
        EXPECT_EQ(readBytes(folder + ".mbx"), "first");
        return;
    }
    ASSERT_EQ(result, StoreResult::Stored);
    const auto listing = readFolderIndex(folder);
    ASSERT_TRUE(listing);
    ASSERT_EQ(listing->entries.size(), 2u);
    const IndexEntry& e = listing->entries[1];
    EXPECT_FALSE(e.damaged);
    EXPECT_EQ(e.record.sender, sender);
    EXPECT_EQ(e.record.recipient, recipient);
    EXPECT_EQ(e.record.subject, subject);
    EXPECT_EQ(readFolderMessage(folder, e), "body");
    expectSizeFieldsAgree(readBytes(folder + ".idx"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SavedMailLongFields,
    ::testing::Values(LongFieldsCase{"SubjectPastReceivedLimit", 1, 1, 5000, true},
                      LongFieldsCase{"AllThreeLong", 3000, 20000, 3000, true},
                      LongFieldsCase{"ExactlyOneRecord", 100, 200, 65536 - kSavedRecordOverhead - 300, true},
                      LongFieldsCase{"OneByteOver", 100, 200, 65536 - kSavedRecordOverhead - 299, false},
                      LongFieldsCase{"HugeRecipient", 1, 200000, 1, false}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(MailStore, EveryRefusalHasAReasonToShow)
{
    EXPECT_TRUE(storeResultText(StoreResult::Stored).empty());
    for (StoreResult r :
         {StoreResult::NoMailDirectory, StoreResult::CannotOpen, StoreResult::WriteFailed, StoreResult::TooLarge}) {
        const std::string_view reason = storeResultText(r);
        EXPECT_FALSE(reason.empty());
        // Whole code page 932 text: it converts for a message box without loss.
        EXPECT_TRUE(platform::cp932RoundTrips(reason));
    }
}

TEST(MailStore, NothingIsWrittenWithoutAMailDirectory)
{
    ScratchDir dir;
    const std::string file = dir.path() + "/message.qel";
    writeBytes(file, "X: 1\r\nSubject: s\r\n\r\nb\r\n");
    EXPECT_FALSE(folderFsPath("", kReceived));
    EXPECT_EQ(AppendReceivedMessage("", kReceived, file), StoreResult::NoMailDirectory);
    EXPECT_EQ(AppendSavedMail("", "f", "t", "s", "b"), StoreResult::NoMailDirectory);
    // Without the check these would land at the file-system root.
    EXPECT_FALSE(exists("/" + kReceived + ".idx"));
    EXPECT_FALSE(exists("/" + kReceived + ".mbx"));
    EXPECT_FALSE(exists("/" + kSaved + ".idx"));
    EXPECT_FALSE(exists("/" + kSaved + ".mbx"));
}

// The mail directory is used as the file system names it; only the folders' names are converted,
// so a directory that code page 932 names gets the same files as ever, and any other one works too.
TEST(MailStore, FoldersLieUnderAMailDirectoryOfAnyName)
{
    std::vector<std::string> names(std::begin(test::kFolderNamesBeyondCodePage932),
                                   std::end(test::kFolderNamesBeyondCodePage932));
    names.emplace_back("\xe3\x83\xa1\xe3\x83\xbc\xe3\x83\xab"); // メール
    for (const std::string& name : names) {
        SCOPED_TRACE(platform::escapeBytes(name));
        ScratchDir scratch;
        const std::string mailDir = scratch.path() + "/" + name;
        ASSERT_TRUE(std::filesystem::create_directory(mailDir));
        const std::string message = "X: 1\r\nSubject: received\r\n\r\nbody\r\n";
        writeBytes(scratch.path() + "/message.qel", message);
        ASSERT_EQ(AppendReceivedMessage(mailDir, kReceived, scratch.path() + "/message.qel"), StoreResult::Stored);
        ASSERT_EQ(AppendSavedMail(mailDir + "/", "f", "t", "saved", "saved body", 1700000000), StoreResult::Stored);

        EXPECT_EQ(*folderFsPath(mailDir, kReceived), mailDir +
                                                         "/\xe5\x8f\x97\xe4\xbf\xa1\xe3\x81\x97\xe3\x81\x9f"
                                                         "\xe3\x83\xa1\xe3\x83\xbc\xe3\x83\xab"); // 受信したメール
        for (const std::string& folder : {kReceived, kSaved})
            for (const char* extension : {".idx", ".mbx", ".jnl"})
                EXPECT_TRUE(std::filesystem::is_regular_file(*folderFsPath(mailDir, folder) + extension)) << extension;
        const struct {
            const std::string& folder;
            std::string subject;
            std::string text;
        } folders[] = {{kReceived, "received", message}, {kSaved, "saved", "saved body"}};
        for (const auto& f : folders) {
            const std::string path = *folderFsPath(mailDir, f.folder);
            const auto listing = readFolderIndex(path);
            ASSERT_TRUE(listing && listing->entries.size() == 1);
            EXPECT_EQ(listing->entries[0].record.subject, f.subject);
            EXPECT_EQ(readFolderMessage(path, listing->entries[0]), f.text);
        }
    }
}

TEST(MailStore, MissingMessageFileWritesNothing)
{
    ScratchDir dir;
    EXPECT_EQ(AppendReceivedMessage(dir.path(), kReceived, dir.path() + "/absent.qel"), StoreResult::CannotOpen);
    EXPECT_FALSE(exists(dir.folder(kReceived) + ".idx"));
    EXPECT_FALSE(exists(dir.folder(kReceived) + ".mbx"));
}

} // namespace

// A list keeps only where each record starts; each record read back from the file on its own gives
// what the whole-index reader gives, and a record that changed under the list is never taken for it.
TEST(IndexView, RecordsReadOneByOneEqualTheWholeIndexReading)
{
    ScratchDir dir;
    for (const char* from : {"a@example.com", "b@example.com", "c@example.com"})
        ASSERT_EQ(fileMessage(dir, kReceivedFolder,
                              std::string("From: ") + from + "\r\nSubject: s\r\n\r\nbody " + from + "\r\n"),
                  StoreResult::Stored);
    const std::string folder = dir.folder(kReceivedFolder);
    const std::optional<IndexListing> whole = readFolderIndex(folder);
    const std::optional<std::string> bytes = readFolderIndexBytes(folder);
    ASSERT_TRUE(whole && bytes);
    const IndexView view(*bytes);
    ASSERT_EQ(view.count(), 3);
    EXPECT_EQ(view.unreadCount(), 3);
    for (int i = 0; i < view.count(); ++i) {
        const auto record = readFolderIndexRange(folder, view.indexOffset(i), view.recordBytes(i));
        ASSERT_TRUE(record);
        const IndexEntry e = view.entry(i, *record);
        const IndexEntry& expected = whole->entries[static_cast<std::size_t>(i)];
        EXPECT_FALSE(e.damaged);
        EXPECT_EQ(e.record.sender, expected.record.sender);
        EXPECT_EQ(e.record.bodySize, expected.record.bodySize);
        EXPECT_EQ(e.offset, expected.offset);
        EXPECT_EQ(e.indexBytes, expected.indexBytes);
    }
    // Past the end: nothing; a record whose bytes are no longer the ones listed is not placed.
    EXPECT_EQ(readFolderIndexRange(folder, bytes->size(), 10), std::string());
    const IndexEntry cut = view.entry(1, readFolderIndexRange(folder, view.indexOffset(1), 8).value_or(""));
    EXPECT_TRUE(cut.damaged);
    EXPECT_FALSE(cut.placed);
    EXPECT_FALSE(view.entry(2, std::string(view.recordBytes(2), '\x7f')).placed);
}

} // namespace orvalink::store
