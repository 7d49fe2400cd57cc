// The text of an outgoing mail: header lines in order, encoded subjects that fold and decode back,
// the body in ISO-2022-JP with dot-stuffing, dates and message ids.
#include "mail/engine/MailText.h"

#include "kanji/Iso2022JpEncoder.h"
#include "kanji/KanjiConverter.h"
#include "support/Iconv.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace orvalink::mail {

namespace {

using test::iconvBytes;
using test::sj;

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        result.push_back(text.substr(start, end - start));
    result.push_back(text.substr(start));
    return result;
}

std::string base64Decode(std::string_view text)
{
    std::string out;
    unsigned value = 0;
    int bits = 0;
    for (char c : text) {
        int v;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+')
            v = 62;
        else if (c == '/')
            v = 63;
        else
            continue;
        value = value << 6 | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((value >> bits) & 0xFF);
        }
    }
    return out;
}

// The subject's UTF-8 text, decoded word by word the way a mail reader does it (glibc for the
// ISO-2022-JP of each word); checks the folding on the way.
std::string readSubject(const std::string& header)
{
    std::string utf8;
    const std::vector<std::string> folded = lines(header);
    for (std::size_t i = 0; i < folded.size(); ++i) {
        const std::string& line = folded[i];
        EXPECT_LE(line.size(), kMaxFoldedLine) << line;
        std::string word = i == 0 ? line.substr(std::string("Subject: ").size()) : line.substr(1);
        EXPECT_TRUE(word.starts_with("=?ISO-2022-JP?B?") && word.ends_with("?=")) << word;
        EXPECT_LE(word.size(), 75u);
        const std::string bytes = base64Decode(word.substr(16, word.size() - 18));
        const auto text = iconvBytes("UTF-8", "ISO-2022-JP", bytes);
        EXPECT_TRUE(text.has_value()) << word;
        utf8 += text.value_or("");
    }
    return utf8;
}

MailFields fields()
{
    MailFields f;
    f.from = "me@example.jp";
    f.to = "you@example.com";
    f.subject = "Hello";
    f.body = "";
    f.date = "Tue, 08 Dec 2026 18:55:00 +0900";
    f.messageId = "<1@desk7>";
    return f;
}

TEST(MailText, HeaderLinesInTheirOrder)
{
    EXPECT_EQ(headerBlock(fields()), "Subject: Hello\r\n"
                                     "To: you@example.com\r\n"
                                     "X-Mailer: QelMail2000 Version 1.0\r\n"
                                     "MIME-Version: 1.0\r\n"
                                     "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
                                     "Content-Transfer-Encoding: 7bit\r\n"
                                     "From: me@example.jp\r\n"
                                     "Date: Tue, 08 Dec 2026 18:55:00 +0900\r\n"
                                     "Message-ID: <1@desk7>\r\n"
                                     "\r\n");
}

TEST(MailText, EmptyFieldsKeepTheirLines)
{
    MailFields f = fields();
    f.subject.clear();
    f.to.clear();
    const std::string block = headerBlock(f);
    EXPECT_TRUE(block.starts_with("Subject: \r\nTo: \r\nX-Mailer")) << block;
    EXPECT_EQ(mailText(f), block + "\r\n.\r\n");
}

TEST(MailText, TypedLineBreaksNeverStartAHeaderLine)
{
    MailFields f = fields();
    f.subject = "hi\r\nBcc: all@example.com";
    f.to = "you@example.com\nCc: x@y";
    const std::string block = headerBlock(f);
    EXPECT_TRUE(block.starts_with("Subject: hi  Bcc: all@example.com\r\nTo: you@example.com Cc: x@y\r\n")) << block;
}

TEST(MailText, AsciiSubjectGoesAsTyped)
{
    const std::string long80(80, 'x');
    EXPECT_EQ(subjectHeader("Re: =?what?= $B (B"), "Subject: Re: =?what?= $B (B");
    EXPECT_EQ(subjectHeader(long80), "Subject: " + long80);
}

// Splits a header block's text at CR LF: its physical lines.
std::vector<std::string> physicalLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t next; (next = text.find("\r\n", at)) != std::string::npos; at = next + 2)
        lines.push_back(text.substr(at, next - at));
    lines.push_back(text.substr(at));
    return lines;
}

// A header line that would pass the mail line limit is folded before one of its own blanks, so
// that unfolding (removing each CR LF) gives the typed line back byte for byte; a line that fits,
// or one without blanks, is left as typed.
TEST(MailText, LongHeaderLinesFoldBeforeTheirOwnBlanks)
{
    std::string manyAddresses;
    for (int i = 0; manyAddresses.size() < 2500; ++i)
        manyAddresses += (i ? ", " : "") + std::string("member") + std::to_string(i) + "@example.com";
    const std::string fits(kMaxBodyLine - 4, 'a'); // "To: " + fits is exactly the limit
    const std::string oneWord(1200, 'w');
    struct Case {
        std::string to;
        std::size_t lines;   // physical lines of the To field
        std::size_t longest; // the longest of them
    } cases[] = {
        {fits, 1, kMaxBodyLine},
        {fits + "b", 1, kMaxBodyLine + 1},                      // no blank: cannot be folded
        {fits.substr(1) + " b", 2, kMaxBodyLine - 1},           // 999 bytes: folds at its one blank
        {manyAddresses, 3, kMaxBodyLine},                       // 2,500 bytes of ", "-separated addresses
        {oneWord + " tail", 2, 4 + oneWord.size()},             // the only blank is past the limit
        {"\x93\xfa\x96\x7b " + manyAddresses, 3, kMaxBodyLine}, // code page 932 bytes before the blanks
    };
    for (const Case& c : cases) {
        MailFields f = fields();
        f.to = c.to;
        const std::string block = headerBlock(f);
        const std::size_t start = block.find("\r\nTo: ") + 2;
        const std::size_t end = block.find("\r\nX-Mailer: ");
        ASSERT_NE(end, std::string::npos);
        const std::vector<std::string> lines = physicalLines(block.substr(start, end - start));
        EXPECT_EQ(lines.size(), c.lines) << c.to.size();
        std::size_t longest = 0;
        std::string unfolded;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            longest = std::max(longest, lines[i].size());
            if (i > 0) {
                EXPECT_EQ(lines[i].front(), ' ') << "a continuation starts with the typed blank";
            }
            unfolded += lines[i];
        }
        EXPECT_LE(longest, c.longest) << c.to.size();
        EXPECT_EQ(unfolded, "To: " + c.to) << "unfolded, the line is the typed one";
    }
    // A long ASCII subject and a long From fold the same way.
    MailFields f = fields();
    f.subject = manyAddresses;
    f.from = manyAddresses;
    const std::string block = headerBlock(f);
    for (const std::string& line : physicalLines(block))
        EXPECT_LE(line.size(), kMaxBodyLine);
    std::string unfolded = block;
    for (std::size_t at; (at = unfolded.find("\r\n ")) != std::string::npos;)
        unfolded.erase(at, 2);
    EXPECT_NE(unfolded.find("Subject: " + manyAddresses + "\r\nTo: "), std::string::npos);
    EXPECT_NE(unfolded.find("From: " + manyAddresses + "\r\nDate: "), std::string::npos);
}

class JapaneseSubjects : public ::testing::TestWithParam<const char*> {};

// A subject beyond ASCII goes as encoded words within 76 characters a line and reads back as typed
// (half-width katakana as full-width), both with glibc and with our own receiving converter.
TEST_P(JapaneseSubjects, FoldAndDecodeBack)
{
    const std::string typed = sj(GetParam());
    const std::string header = subjectHeader(typed);
    EXPECT_EQ(readSubject(header), GetParam()) << header;
    // Our own receiving side, after the filing has joined the folded lines.
    std::string unfolded = header;
    for (std::size_t at; (at = unfolded.find("\r\n ")) != std::string::npos;)
        unfolded.replace(at, 3, " ");
    EXPECT_EQ(kanji::KanjiConverter().convert(unfolded), "Subject: " + typed) << header;
}

INSTANTIATE_TEST_SUITE_P(MailText, JapaneseSubjects,
                         ::testing::Values("テスト", "会議のお知らせ", "Re: 明日の会議 (10:00-) について",
                                           "　全角空白で始まる件名です。ＡＢＣ１２３と記号も入ります",
                                           "とても長い件名はいくつもの行に折り返されますがどの行も七十六文字を超えず受"
                                           "け取った人には元どおりに読めなければなりません"));

TEST(MailText, HalfWidthKatakanaSubjectBecomesFullWidth)
{
    EXPECT_EQ(readSubject(subjectHeader(sj("ﾃｽﾄ ｶﾞｲﾄﾞ"))), "テスト ガイド");
}

TEST(MailText, EncodedWordsNeverSplitACharacter)
{
    // Lengths around the fold, so that a break falls between every kind of neighbour.
    for (int n = 1; n < 60; ++n) {
        std::string typed;
        for (int i = 0; i < n; ++i)
            typed += sj(i % 3 == 0 ? "漢" : i % 3 == 1 ? "a" : "ｶﾞ");
        std::string expected;
        for (int i = 0; i < n; ++i)
            expected += i % 3 == 0 ? "漢" : i % 3 == 1 ? "a" : "ガ";
        ASSERT_EQ(readSubject(subjectHeader(typed)), expected) << n;
    }
}

struct BodyCase {
    const char* name;
    std::string body;
    std::string expected;
};

void PrintTo(const BodyCase& c, std::ostream* os)
{
    *os << c.name;
}

class Bodies : public ::testing::TestWithParam<BodyCase> {};

TEST_P(Bodies, ConvertedAndDotStuffed)
{
    EXPECT_EQ(bodyText(GetParam().body), GetParam().expected);
}

const std::string kIn = "\x1B$B";
const std::string kOut = "\x1B(B";

INSTANTIATE_TEST_SUITE_P(
    MailText, Bodies,
    ::testing::Values(
        BodyCase{"Empty", "", ""}, BodyCase{"DotAlone", ".", ".."},
        BodyCase{"DotLines", "a\r\n.\r\n.b\r\nc.\r\n..\r\n", "a\r\n..\r\n..b\r\nc.\r\n...\r\n"},
        BodyCase{"EndsWithLineEnd", "a\r\n", "a\r\n"},
        BodyCase{"Japanese", sj("日本語\r\nｶﾅ\r\n"),
                 kIn + "\x46\x7C\x4B\x5C\x38\x6C" + kOut + "\r\n" + kIn + "\x25\x2B\x25\x4A" + kOut + "\r\n"},
        BodyCase{"DotBeforeKanji", sj(".漢"), ".." + kIn + "\x34\x41" + kOut},
        BodyCase{"BareLineEndsBecomeCrLf", "a\nb\rc\r\n\n.d", "a\r\nb\r\nc\r\n\r\n..d"},
        BodyCase{"SmugglingAttemptStaysInside", "x\n.\nMAIL FROM:<a@b>\r\n", "x\r\n..\r\nMAIL FROM:<a@b>\r\n"}),
    [](const ::testing::TestParamInfo<BodyCase>& p) { return std::string(p.param.name); });

const std::string kKan = sj("漢"); // JIS 34 41
const std::string kGa = sj("ｶﾞ");  // one full-width character from two bytes
const std::string kLead = "\x81";  // a lead byte with no trail byte after it

std::string times(std::string_view unit, std::size_t n)
{
    std::string s;
    for (std::size_t i = 0; i < n; ++i)
        s += unit;
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    LongLines, Bodies,
    ::testing::Values(
        BodyCase{"AsciiThatFits", times("a", 998), times("a", 998)},
        BodyCase{"AsciiOneOver", times("a", 999) + "\r\nb", times("a", 998) + "\r\na\r\nb"},
        BodyCase{"AsciiManyTimesOver", times("a", 2000), times("a", 998) + "\r\n" + times("a", 998) + "\r\naaaa"},
        BodyCase{"StuffedDotCounts", "." + times("a", 997), ".." + times("a", 996) + "\r\na"},
        BodyCase{"BrokenBeforeADot", times("a", 998) + ".x", times("a", 998) + "\r\n..x"},
        // ESC $ B, 496 characters and ESC ( B make 998 bytes.
        BodyCase{"KanjiThatFits", times(kKan, 496), kIn + times("\x34\x41", 496) + kOut},
        BodyCase{"KanjiOneOver", times(kKan, 497),
                 kIn + times("\x34\x41", 496) + kOut + "\r\n" + kIn + "\x34\x41" + kOut},
        // 993 ASCII bytes leave no room for one more character in JIS and the escapes around it.
        BodyCase{"KanjiAfterAscii", times("a", 993) + kKan + "b",
                 times("a", 993) + "\r\n" + kIn + "\x34\x41" + kOut + "b"},
        BodyCase{"AsciiAfterKanji", times(kKan, 496) + "b", kIn + times("\x34\x41", 496) + kOut + "\r\nb"}),
    [](const ::testing::TestParamInfo<BodyCase>& p) { return std::string(p.param.name); });

// The lines of ISO-2022-JP text, each read on its own by glibc as a mail reader reads it: every
// line must be valid by itself, start in ASCII and fit.
std::string readBodyLines(const std::string& sent)
{
    std::string utf8;
    for (const std::string& line : lines(sent)) {
        EXPECT_LE(line.size(), kMaxBodyLine);
        EXPECT_FALSE(line.starts_with(".") && !line.starts_with(".."));
        const std::string unstuffed = line.starts_with(".") ? line.substr(1) : line;
        const auto text = iconvBytes("UTF-8", "ISO-2022-JP", unstuffed);
        EXPECT_TRUE(text.has_value()) << unstuffed.substr(0, 40);
        utf8 += text.value_or("<unreadable>");
    }
    return utf8;
}

TEST(MailText, LongLinesBreakBetweenCharactersAndKeepEveryOne)
{
    const struct {
        const char* name;
        std::string line;
    } cases[] = {
        {"Kanji", times(kKan, 3000)},
        {"Alternating", times("a" + kKan, 1500)},
        {"VoicedKatakana", times(kGa, 1200)},
        {"VoicedKatakanaOffByOne", "x" + times(kGa, 1200)},
        {"DotsAndKanji", times("." + kKan + kKan, 900)},
        {"LoneLeadBytes", times("ab" + kLead + " ", 700)},
        {"Escapes", times("\x1B$B", 700)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // One line of the user's becomes several; read back joined, nothing is lost or changed.
        const std::string sent = bodyText(c.line);
        EXPECT_GT(lines(sent).size(), 1u);
        EXPECT_EQ(readBodyLines(sent), iconvBytes("UTF-8", "ISO-2022-JP", kanji::toIso2022Jp(c.line)));
    }
}

TEST(MailText, DataEndsRightAfterTheBody)
{
    MailFields f = fields();
    f.body = "a\r\n";
    EXPECT_TRUE(mailText(f).ends_with("\r\n\r\na\r\n\r\n.\r\n"));
    f.body = "a";
    EXPECT_TRUE(mailText(f).ends_with("\r\n\r\na\r\n.\r\n"));
}

TEST(MailText, DatesInRfc5322Form)
{
    struct DateCase {
        MailTime time;
        const char* text;
    };
    for (const DateCase& d : {DateCase{{0, 0}, "Thu, 01 Jan 1970 00:00:00 +0000"},
                              DateCase{{1796723700, 540}, "Tue, 08 Dec 2026 18:55:00 +0900"},
                              DateCase{{1709210096, -210}, "Thu, 29 Feb 2024 09:04:56 -0330"},
                              DateCase{{951782400, 0}, "Tue, 29 Feb 2000 00:00:00 +0000"},
                              DateCase{{-1, 60}, "Thu, 01 Jan 1970 00:59:59 +0100"}})
        EXPECT_EQ(formatMailDate(d.time), d.text) << d.time.unixSeconds;
    const MailTime now = currentMailTime();
    EXPECT_GT(now.unixSeconds, 1700000000);
    EXPECT_LE(std::abs(now.utcOffsetMinutes), 14 * 60);
}

TEST(MailText, MessageIdsAreUniqueAndWellFormed)
{
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        const std::string id = newMessageId({1796723700, 540}, "desk7.example.jp");
        EXPECT_TRUE(id.starts_with("<") && id.ends_with("@desk7.example.jp>")) << id;
        EXPECT_EQ(id.find_first_of(" \r\n\t"), std::string::npos);
        EXPECT_TRUE(seen.insert(id).second);
    }
    EXPECT_TRUE(newMessageId({0, 0}, "bad host").ends_with("@localhost>"));
}

} // namespace

} // namespace orvalink::mail
