#include "store/IndexParser.h"

#include "store/FolderTestSupport.h"
#include "store/ReceivedHeaderScan.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace orvalink::store {

using orvalink::test::le32;

namespace {

std::string rawRecord(std::uint32_t status, const std::string& body)
{
    return le32(static_cast<std::uint32_t>(body.size())) + le32(status) + body;
}

const std::string kSixTexts = std::string("a\0b\0c\0d\0e\0f\0", 12);

TEST(IndexParser, RecordWithoutSixTextsKeepsItsBodySizeAndLaterOffsets)
{
    // The middle record holds only two texts; its body size is still its last four bytes.
    const std::string index = rawRecord(1, kSixTexts + le32(10)) + rawRecord(0, std::string("x\0y\0", 4) + le32(20)) +
                              rawRecord(1, kSixTexts + le32(30)) + rawRecord(1, std::string("\x01\x02", 2));
    const IndexListing listing = parseIndex(index);
    ASSERT_EQ(listing.entries.size(), 4u);
    EXPECT_FALSE(listing.cutShort);
    EXPECT_FALSE(listing.entries[0].damaged);
    EXPECT_TRUE(listing.entries[1].damaged);
    EXPECT_EQ(listing.entries[1].record.sender, "x");
    EXPECT_EQ(listing.entries[1].record.subject, "y");
    EXPECT_EQ(listing.entries[1].record.bodySize, 20u);
    EXPECT_EQ(listing.entries[2].offset, 30u);
    EXPECT_EQ(listing.entries[2].record.mailer, "f");
    EXPECT_TRUE(listing.entries[3].damaged);
    EXPECT_EQ(listing.entries[3].record.bodySize, 0u);
    EXPECT_EQ(listing.mailboxBytes, 60u);
    EXPECT_TRUE(listing.unreadable.empty());
}

TEST(IndexParser, ExtraBytesBeforeBodySizeMarkTheRecordDamaged)
{
    const IndexListing listing = parseIndex(rawRecord(1, kSixTexts + "zz" + le32(7)));
    ASSERT_EQ(listing.entries.size(), 1u);
    EXPECT_TRUE(listing.entries[0].damaged);
    EXPECT_EQ(listing.entries[0].record.bodySize, 7u);
}

TEST(IndexParser, RecordLongerThanTheFileIsCutShort)
{
    const std::string whole = rawRecord(1, kSixTexts + le32(5));
    // A length word of 0xFFFFFFFF must not wrap around when it is added to the position.
    for (const std::string& tail : {le32(0xFFFFFFFFu) + le32(1), le32(100) + le32(1) + "abc", std::string("\x05", 1)}) {
        const IndexListing listing = parseIndex(whole + tail);
        ASSERT_EQ(listing.entries.size(), 1u);
        EXPECT_TRUE(listing.cutShort);
        ASSERT_EQ(listing.unreadable.size(), 1u);
        EXPECT_EQ(listing.unreadable[0].begin, whole.size());
        EXPECT_EQ(listing.unreadable[0].end, (whole + tail).size());
        EXPECT_EQ(listing.mailboxBytes, 5u);
    }
}

// A record cut short inside its body size, with records appended after it: its texts are whole,
// so its length word would take the next record's first bytes as its body size. It is read as
// unreadable bytes instead, and the records after it are found.
TEST(IndexParser, RecordCutInsideItsBodySizeDoesNotSwallowTheNext)
{
    const std::string first = rawRecord(1, kSixTexts + le32(5));
    const std::string cut = rawRecord(1, kSixTexts + le32(300)).substr(0, 8 + 12 + 2);
    const std::string after = rawRecord(0, kSixTexts + le32(7)) + rawRecord(1, kSixTexts + le32(9));
    IndexListing listing = parseIndex(first + cut + after);
    ASSERT_EQ(listing.entries.size(), 3u);
    ASSERT_EQ(listing.unreadable.size(), 1u);
    EXPECT_EQ(listing.unreadable[0].begin, first.size());
    EXPECT_EQ(listing.unreadable[0].end, first.size() + cut.size());
    EXPECT_FALSE(listing.cutShort);
    EXPECT_EQ(listing.entries[1].record.bodySize, 7u);
    EXPECT_FALSE(listing.entries[1].placed);

    // The records after the gap end where the mailbox ends; the 300 bytes of the cut record lie
    // between.
    placeMessages(listing, 5 + 300 + 7 + 9);
    EXPECT_TRUE(listing.entries[1].placed);
    EXPECT_EQ(listing.entries[1].offset, 305u);
    EXPECT_EQ(listing.entries[2].offset, 312u);
    EXPECT_EQ(listing.placedEnd, 321u);

    // A mailbox too short for them leaves them unplaced rather than over the records before.
    IndexListing shortMailbox = parseIndex(first + cut + after);
    placeMessages(shortMailbox, 5 + 7 + 9 - 1);
    EXPECT_FALSE(shortMailbox.entries[1].placed);
    EXPECT_FALSE(shortMailbox.entries[2].placed);
    EXPECT_TRUE(shortMailbox.entries[0].placed);
}

// An index and its mailbox built as filing builds them, with one record made unreadable.
struct Folder {
    std::string index;
    std::string mailbox;

    void file(const std::string& message, const std::string& subject = {})
    {
        IndexRecord record = scanReceivedHeaders(message);
        if (!subject.empty())
            record.subject = subject;
        record.bodySize = static_cast<std::uint32_t>(message.size());
        index += encodeIndexRecord(record);
        mailbox += message;
    }
    // A record whose length word and first terminator are both damaged: its message is hidden.
    void fileHidden(const std::string& message)
    {
        const std::size_t at = index.size();
        file(message);
        index.replace(at, 4, le32(0x7FFFFFFFu));
        index[at + 8] = 'X';
    }
    MailboxReader reader() const
    {
        return [this](std::uint64_t offset, std::uint64_t size) { return mailbox.substr(offset, size); };
    }
};

std::string mail(const std::string& name, std::size_t bodyBytes)
{
    return "Received: by host; " + name + "\r\nSubject: " + name + "\r\n\r\n" + std::string(bodyBytes, 'b') + "\r\n";
}

// The records after unreadable index bytes are placed where their messages are found, the latest
// place first; where they cannot be found, back from the mailbox's end as by sizes alone.
TEST(IndexParser, RecordsAfterAGapArePlacedWhereTheirMessagesAre)
{
    struct Case {
        const char* name;
        Folder folder;
        std::string trailing;
        // Where the records after the gap are expected to start; npos: back from the end.
        std::size_t tailStart;
    };
    std::vector<Case> cases;
    {
        Folder f;
        f.file(mail("a", 10));
        f.fileHidden(mail("x", 20));
        const std::size_t tail = f.mailbox.size();
        f.file(mail("x", 20));
        f.file(mail("b", 30));
        cases.push_back({"first message after the gap repeated in it", f, mail("t", 5), tail});
    }
    {
        Folder f;
        f.file(mail("a", 10));
        f.fileHidden(mail("h", 20));
        const std::size_t tail = f.mailbox.size();
        f.file(mail("c", 5));
        cases.push_back({"one message, trailing bytes a blank line", f, "\r\n", tail});
    }
    {
        Folder f;
        f.file(mail("a", 10));
        f.fileHidden(mail("h", 20));
        f.file(mail("c", 5), "not its subject");
        cases.push_back({"texts found nowhere", f, mail("t", 5), std::string::npos});
    }
    {
        Folder f;
        f.file(mail("a", 10));
        f.fileHidden(mail("h", 20));
        f.file(mail("c", 5));
        cases.push_back({"farther back than the search reaches", f,
                         std::string(static_cast<std::size_t>(kMaxMessageSearchBytes), 't'), std::string::npos});
    }
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.folder.mailbox += c.trailing;
        IndexListing listing = parseIndex(c.folder.index);
        ASSERT_EQ(listing.unreadable.size(), 1u);
        placeMessages(listing, c.folder.mailbox.size(), c.folder.reader());
        std::uint64_t tailBytes = 0;
        for (std::size_t k = 1; k < listing.entries.size(); ++k)
            tailBytes += listing.entries[k].record.bodySize;
        const std::uint64_t expected =
            c.tailStart == std::string::npos ? c.folder.mailbox.size() - tailBytes : c.tailStart;
        ASSERT_TRUE(listing.entries[1].placed);
        EXPECT_EQ(listing.entries[1].offset, expected);
        EXPECT_EQ(listing.placedEnd, expected + tailBytes);
        EXPECT_EQ(listing.endUnclaimed(), listing.placedEnd < c.folder.mailbox.size());
    }
}

} // namespace

} // namespace orvalink::store
