#include "platform/TextCodec.h"

#include <gtest/gtest.h>

namespace orvalink::platform {

TEST(TextCodec, ConvertsBetweenCodePage932AndQString)
{
    struct Case {
        std::string cp932;
        const char* utf8;
    };
    const Case cases[] = {
        {"\x83\x4F\x83\x8B\x81\x5B\x83\x76\x82\x50", "グループ１"},
        {"\xBF\xB9\xAF\xC4", "ｿｹｯﾄ"},
        {"\x83\x81\x83\x62\x83\x5A\x81\x5B\x83\x57", "メッセージ"},
        {"C:\\path", "C:\\path"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(toQString(c.cp932), QString::fromUtf8(c.utf8));
        EXPECT_EQ(fromQString(QString::fromUtf8(c.utf8)), c.cp932);
        EXPECT_EQ(toFileName(c.cp932), c.utf8);
        EXPECT_EQ(fromFileName(c.utf8), c.cp932);
    }
}

TEST(TextCodec, CharactersOutsideCodePage932BecomeQuestionMarks)
{
    EXPECT_EQ(fromQString(QString::fromUtf8("a\xF0\x9F\x98\x80"
                                            "b")),
              "a?b");                                                      // emoji (a surrogate pair)
    EXPECT_EQ(fromQString(QString::fromUtf8("\xC3\xA9t\xC3\xA9")), "?t?"); // "été"
    EXPECT_EQ(fromQString(QString(QChar(0xD800))), "?");                   // a lone surrogate
    EXPECT_EQ(toQString("\xFF"
                        "x"),
              QString::fromUtf8("?x"));
    EXPECT_EQ(fromFileName("caf\xC3\xA9"), "caf?");
}

// The two ways a program text reaches a widget part where code page 932 cannot hold a character:
// uiText keeps it, uiTextThroughCp932 shows what the stored bytes would.
TEST(TextCodec, ProgramTextsAsWrittenOrThroughCodePage932)
{
    struct Case {
        const char* utf8;
        const char* asWritten;
        const char* throughCp932;
    };
    const Case cases[] = {
        {"メール受信(&R)", "メール受信(&R)", "メール受信(&R)"},
        {"Orvalink のﾊﾞｰｼﾞｮﾝ情報", "Orvalink のﾊﾞｰｼﾞｮﾝ情報", "Orvalink のﾊﾞｰｼﾞｮﾝ情報"},
        {"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9", "?t?"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(uiText(c.utf8), QString::fromUtf8(c.asWritten)) << c.utf8;
        EXPECT_EQ(uiTextThroughCp932(c.utf8), QString::fromUtf8(c.throughCp932)) << c.utf8;
    }
}

} // namespace orvalink::platform
