#include "store/FolderTestSupport.h"
#include "store/MailStore.h"

#include <atomic>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <thread>

namespace orvalink::store {

using orvalink::test::readBytes;
using orvalink::test::ScratchDir;
using orvalink::test::writeBytes;

namespace {

// Two threads file 1,000 messages each into one folder while a third reads it. Every message must
// end up whole, once, at the offset its record gives, and the reader must never see a record cut
// short.
TEST(MailStoreThreads, TwoAppendingThreadsLeaveAConsistentFolder)
{
    constexpr int kPerThread = 1000;
    ScratchDir dir;
    const std::string folderName(kReceivedFolder);
    const std::string folder = dir.folder(folderName);
    std::atomic<int> failures{0};
    std::atomic<bool> writing{true};

    const auto writer = [&](int thread) {
        const std::string file = dir.path() + "/t" + std::to_string(thread) + ".qel";
        for (int i = 0; i < kPerThread; ++i) {
            const std::string tag = std::to_string(thread) + "-" + std::to_string(i);
            writeBytes(file,
                       "Received: x; " + tag + "\r\nSubject: " + tag + "\r\n\r\n" + std::string(i % 97, 'b') + "\r\n");
            if (AppendReceivedMessage(dir.path(), folderName, file) != StoreResult::Stored)
                ++failures;
        }
    };
    std::size_t lastSeen = 0;
    bool readerSawCut = false;
    bool readerWentBack = false;
    std::thread reader([&] {
        while (writing) {
            const auto listing = readFolderIndex(folder);
            if (!listing)
                continue;
            readerSawCut |= listing->cutShort;
            readerWentBack |= listing->entries.size() < lastSeen;
            lastSeen = listing->entries.size();
        }
    });
    std::thread a(writer, 0);
    std::thread b(writer, 1);
    a.join();
    b.join();
    writing = false;
    reader.join();

    EXPECT_EQ(failures, 0);
    EXPECT_FALSE(readerSawCut);
    EXPECT_FALSE(readerWentBack);
    const auto listing = readFolderIndex(folder);
    ASSERT_TRUE(listing);
    ASSERT_EQ(listing->entries.size(), 2u * kPerThread);
    EXPECT_FALSE(listing->cutShort);
    const std::string mailbox = readBytes(folder + ".mbx");
    EXPECT_EQ(listing->mailboxBytes, mailbox.size());

    std::set<std::string> tags;
    for (const IndexEntry& e : listing->entries) {
        const std::string& tag = e.record.subject;
        EXPECT_EQ(e.record.arrivalDate, tag);
        ASSERT_LE(e.offset + e.record.bodySize, mailbox.size());
        const std::string text = mailbox.substr(e.offset, e.record.bodySize);
        EXPECT_EQ(text.rfind("Received: x; " + tag + "\r\nSubject: " + tag + "\r\n", 0), 0u) << tag;
        tags.insert(tag);
    }
    EXPECT_EQ(tags.size(), 2u * kPerThread);
}

} // namespace

} // namespace orvalink::store
