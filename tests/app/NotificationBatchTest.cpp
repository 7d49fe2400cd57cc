#include "app/NotificationBatch.h"

#include "platform/text/Cp932.h"

#include <gtest/gtest.h>

namespace orvalink::app {

namespace {

NotificationBatch::Message message(const char* sender, const char* group, const char* text, bool personal = false)
{
    return {0, 1, platform::utf8ToCp932(sender), platform::utf8ToCp932(group), platform::utf8ToCp932(text), personal};
}

} // namespace

TEST(NotificationBatch, OneMessageNamesSenderAndGroupManyAreCounted)
{
    struct Case {
        const char* what;
        std::vector<NotificationBatch::Message> messages;
        const char* summary;
        const char* body;
    };
    const Case cases[] = {
        {"one group message", {message("田中", "営業部", "こんにちは")}, "田中 (営業部)", "こんにちは"},
        {"one personal message", {message("田中", "営業部", "内緒です", true)}, "田中 (営業部) 個人宛", "内緒です"},
        {"three, the newest named",
         {message("a", "G", "1"), message("b", "G", "2"), message("佐藤", "総務", "三つ目")},
         "新しいメッセージ 3 件",
         "最新: 佐藤 (総務) 三つ目"},
        {"personal ones counted apart",
         {message("a", "G", "1", true), message("b", "G", "2"), message("c", "G", "3", true)},
         "新しいメッセージ 3 件 (個人宛 2 件)",
         "最新: c (G) 3"},
    };
    for (const Case& c : cases) {
        NotificationBatch batch;
        for (const auto& m : c.messages)
            batch.add(m);
        EXPECT_EQ(batch.count(), static_cast<int>(c.messages.size())) << c.what;
        EXPECT_EQ(batch.summary(), c.summary) << c.what;
        EXPECT_EQ(batch.body(), c.body) << c.what;
    }
    NotificationBatch batch;
    batch.add(message("a", "G", "1"));
    batch.add(message("a", "G", "2"));
    batch.clear();
    batch.add(message("x", "G", "again"));
    EXPECT_EQ(batch.summary(), "x (G)") << "a cleared batch counts from one again";
}

TEST(NotificationBatch, TheTextIsCutToItsStartOnOneLine)
{
    struct Case {
        const char* text;
        std::size_t chars;
        const char* start;
    };
    const Case cases[] = {
        {"short", 10, "short"},
        {"exactly ten", 11, "exactly ten"},
        {"0123456789abc", 10, "0123456789…"},
        {"日本語のテキストです", 4, "日本語の…"},
        {"line one\r\nline two\nthree", 80, "line one line two three"},
        {"\r\n\r\n", 80, "  "},
        {"", 5, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NotificationBatch::startOf(c.text, c.chars), c.start) << c.text;
}

TEST(NotificationBatch, TheSenderIsTheNameInTheMemberKey)
{
    EXPECT_EQ(NotificationBatch::senderOf("10.77.0.2#12121#peer2"), "peer2");
    EXPECT_EQ(NotificationBatch::senderOf("10.77.0.2#12121#a#b"), "a#b") << "a name may hold '#'";
    EXPECT_EQ(NotificationBatch::senderOf("plain"), "plain");
}

} // namespace orvalink::app
