// The display decoder on tables of messages: transfer encodings, charsets, header words, RFC 2231
// names, the multipart walk (an unclosed boundary, no boundary line, nesting) and HTML as text.
#include "mail/mime/Charset.h"
#include "mail/mime/DisplayedMail.h"
#include "mail/mime/HeaderWords.h"
#include "mail/mime/HtmlText.h"
#include "mail/mime/MimeMessage.h"
#include "mail/mime/ReplyText.h"
#include "mail/mime/TransferEncoding.h"

#include <gtest/gtest.h>
#include <string>

namespace orvalink::mail {

namespace {

// Code page 932 texts the tables expect.
const std::string kAi = "\x82\xa0\x82\xa2";                                 // あい
const std::string kNihongo = "\x93\xfa\x96\x7b\x8c\xea";                    // 日本語
const std::string kKenmei = "\x8c\x8f\x96\xbc";                             // 件名
const std::string kKonnichiwa = "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd"; // こんにちは
const std::string kTenpuTxt = "\x93\x59\x95\x74.txt";                       // 添付.txt

struct Case {
    const char* what;
    std::string input;
    std::string expected;
};

} // namespace

TEST(MimeDecoder, TransferEncodingsDecodeWhatTheyCanAndKeepTheRest)
{
    const Case base64[] = {
        {"plain", "44GC44GE", "\xe3\x81\x82\xe3\x81\x84"},
        {"line ends and stray bytes skipped", "44GC\r\n4!4GE", "\xe3\x81\x82\xe3\x81\x84"},
        {"ends at the pad", "QUI=QUI=", "AB"},
        {"a cut group drops its spare bits",
         "QUJD"
         "RA",
         "ABCD"},
        {"nothing decodable", "!!!", ""},
    };
    for (const auto& c : base64)
        EXPECT_EQ(decodeBase64(c.input), c.expected) << c.what;
    const Case qp[] = {
        {"hex pair", "caf=C3=A9", "caf\xc3\xa9"},  {"lower case hex", "=e3=81=82", "\xe3\x81\x82"},
        {"soft break CR LF", "ab=\r\ncd", "abcd"}, {"soft break with trailing spaces", "ab= \ncd", "abcd"},
        {"bad pair kept", "a=ZZb", "a=ZZb"},       {"equals at the end kept", "a=", "a="},
    };
    for (const auto& c : qp)
        EXPECT_EQ(decodeQuotedPrintable(c.input), c.expected) << c.what;
    EXPECT_EQ(decodeQuotedPrintable("a_b=5F", true), "a b_");
    EXPECT_EQ(decodeQuotedPrintable("a_b", false), "a_b");
    EXPECT_EQ(decodeTransferEncoding("QUI=", " Base64 "), "AB");
    EXPECT_EQ(decodeTransferEncoding("QUI=", "8bit"), "QUI=");
}

TEST(MimeDecoder, CharsetsBecomeCodePage932)
{
    const struct {
        const char* charset;
        std::string bytes;
        std::string expected;
    } cases[] = {
        {"ISO-2022-JP", "\x1b$B$\"$$\x1b(B", kAi},
        {"iso-2022-jp", "\x1b$BF|K\\8l\x1b(B!", kNihongo + "!"},
        {"EUC-JP", "\xa4\xa2\xa4\xa4", kAi},
        {"UTF-8", "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", kNihongo},
        {"utf8", "a\xe3\x81\x82", "a\x82\xa0"},
        {"Shift_JIS", kNihongo, kNihongo},
        {"windows-31j", kNihongo, kNihongo},
        {"ISO-8859-1", "caf\x41", "cafA"},
        // é has no code page 932 form.
        {"ISO-8859-1", "caf\xe9!", "caf?!"},
        // One "?" for each broken UTF-8 sequence, then the text goes on.
        {"UTF-8",
         "a\xe3\x81z\xff"
         "b",
         "a?z?b"},
        {"UTF-8", "a\xe3\x81", "a?"},
        {"EUC-JP", "\xa4\xa2\xa4", kAi.substr(0, 2) + "?"},
        // A charset this program does not take: the bytes as they are.
        {"x-unknown", "ab\x82\xa0", "ab\x82\xa0"},
        {"", "plain", "plain"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(toCp932(c.bytes, c.charset), c.expected) << c.charset << " " << c.bytes;
}

TEST(MimeDecoder, HeaderWordsOfEveryCharsetAreDecoded)
{
    const Case cases[] = {
        {"UTF-8 B", "=?UTF-8?B?44GC44GE?=", kAi},
        {"UTF-8 Q", "=?utf-8?q?=E3=81=82=E3=81=84?=", kAi},
        {"EUC-JP B", "=?EUC-JP?B?xvzL3Ljs?=", kNihongo},
        {"Shift_JIS B", "=?Shift_JIS?B?jI+WvA==?=", kKenmei},
        {"ISO-2022-JP B", "=?ISO-2022-JP?B?GyRCN29MPhsoQg==?=", kKenmei},
        {"ISO-8859-1 Q with underscore", "=?ISO-8859-1?Q?a_b?=", "a b"},
        {"language suffix", "=?UTF-8*ja?B?44GC44GE?=", kAi},
        {"space between words dropped", "=?UTF-8?B?44GC?= \r\n =?UTF-8?B?44GE?=", kAi},
        {"space before plain text kept", "Re: =?UTF-8?B?44GC?= x", "Re: \x82\xa0 x"},
        {"unknown charset kept", "=?x-klingon?B?44GC?=", "=?x-klingon?B?44GC?="},
        {"unknown mode kept", "=?UTF-8?X?44GC?=", "=?UTF-8?X?44GC?="},
        {"never closed kept", "=?UTF-8?B?44GC", "=?UTF-8?B?44GC"},
        {"space inside kept", "=?UTF-8?B?44 GC?=", "=?UTF-8?B?44 GC?="},
        {"code page 932 text with = as second byte untouched", "\x81=?x", "\x81=?x"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(decodeHeaderWords(c.input), c.expected) << c.what;
}

TEST(MimeDecoder, ParametersJoinAndDecodeRfc2231Names)
{
    const struct {
        const char* what;
        std::string header;
        std::string name;
        std::string expected;
    } cases[] = {
        {"quoted", "text/plain; charset=\"UTF-8\"", "charset", "UTF-8"},
        {"bare, case of names", "Text/Plain; CHARSET=euc-jp", "charset", "euc-jp"},
        {"escaped quote", "attachment; filename=\"a\\\"b\"", "filename", "a\"b"},
        {"extended", "attachment; filename*=UTF-8''%E6%B7%BB%E4%BB%98.txt", "filename", kTenpuTxt},
        {"extended with language", "attachment; filename*=utf-8'ja'%E6%B7%BB%E4%BB%98.txt", "filename", kTenpuTxt},
        {"continued", "attachment; filename*0*=UTF-8''%E6%B7%BB; filename*1*=%E4%BB%98; filename*2=.txt", "filename",
         kTenpuTxt},
        {"continued out of order", "a; filename*1=.txt; filename*0*=UTF-8''%E6%B7%BB%E4%BB%98", "filename", kTenpuTxt},
        {"extended wins over plain", "a; filename=x.bin; filename*=UTF-8''%E6%B7%BB%E4%BB%98.txt", "filename",
         kTenpuTxt},
        {"bad percent kept", "a; filename*=UTF-8''a%ZZ%4", "filename", "a%ZZ%4"},
        {"missing", "text/plain", "charset", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseHeaderParameters(c.header).parameter(c.name), c.expected) << c.what;
    EXPECT_EQ(parseHeaderParameters(" Multipart/Mixed ; boundary=x").value, "multipart/mixed");
}

TEST(MimeDecoder, BodiesInEveryEncodingAndCharsetShowAsText)
{
    const struct {
        const char* what;
        std::string headers;
        std::string body;
        std::string expected;
    } cases[] = {
        {"base64 UTF-8", "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n",
         "44GT44KT44Gr44Gh44Gv\r\n", kKonnichiwa},
        {"quoted-printable UTF-8",
         "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: quoted-printable\r\n",
         "=E3=81=82=\r\n=E3=81=84\r\nline2\r\n", kAi + "\nline2\n"},
        {"base64 EUC-JP", "Content-Type: text/plain; charset=EUC-JP\r\nContent-Transfer-Encoding: base64\r\n",
         "xvzL3Ljs", kNihongo},
        {"base64 ISO-2022-JP", "Content-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: base64\r\n",
         "GyRCN29MPhsoQg==", kKenmei},
        {"quoted-printable ISO-8859-1",
         "Content-Type: text/plain; charset=ISO-8859-1\r\nContent-Transfer-Encoding: quoted-printable\r\n", "caf=41",
         "cafA"},
        {"base64 Shift_JIS", "Content-Type: text/plain; charset=Shift_JIS\r\nContent-Transfer-Encoding: base64\r\n",
         "jI+WvA==", kKenmei},
        // Filing already turned a 7-bit ISO-2022-JP body into code page 932.
        {"filed 7bit body as it stands", "Content-Type: text/plain; charset=ISO-2022-JP\r\n", kNihongo + "\r\n",
         kNihongo + "\n"},
        {"7bit ISO-2022-JP not yet converted", "Content-Type: text/plain; charset=ISO-2022-JP\r\n", "\x1b$B$\"$$\x1b(B",
         kAi},
        {"8bit UTF-8", "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n",
         "\xe3\x81\x82\xe3\x81\x84", kAi},
        {"broken base64 shows what decodes",
         "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n", "44GC4*4GE!!44",
         kAi + "?"},
        {"unknown charset as it stands",
         "Content-Type: text/plain; charset=x-nothing\r\nContent-Transfer-Encoding: base64\r\n", "YWJj", "abc"},
        {"no content type", "", "hello\r\nworld", "hello\nworld"},
    };
    for (const auto& c : cases) {
        const std::string message = "From: a@example.com\r\nSubject: s\r\n" + c.headers + "\r\n" + c.body;
        EXPECT_EQ(displayMessage(parseMimeMessage(message)).body, c.expected) << c.what;
    }
}

TEST(MimeDecoder, MultipartShowsTheFirstTextAndListsTheOtherPartsDecoded)
{
    const std::string original("\x00\x01\xff\xfe binary\r\n", 13);
    const std::string message = "From: =?UTF-8?B?44GC44GE?= <ai@example.com>\r\n"
                                "To: b@example.com\r\n"
                                "Subject: =?ISO-2022-JP?B?GyRCN29MPhsoQg==?=\r\n"
                                "Date: Tue, 1 Dec 2026 10:00:00 +0900\r\n"
                                "MIME-Version: 1.0\r\n"
                                "Content-Type: multipart/mixed;\r\n boundary=\"==b1\"\r\n"
                                "\r\n"
                                "preamble\r\n"
                                "--==b1\r\n"
                                "Content-Type: multipart/alternative; boundary=b2\r\n"
                                "\r\n"
                                "--b2\r\n"
                                "Content-Type: text/plain; charset=UTF-8\r\n"
                                "Content-Transfer-Encoding: base64\r\n"
                                "\r\n"
                                "44GT44KT44Gr44Gh44Gv\r\n"
                                "--b2\r\n"
                                "Content-Type: text/html; charset=UTF-8\r\n"
                                "\r\n"
                                "<p>html</p>\r\n"
                                "--b2--\r\n"
                                "--==b1\r\n"
                                "Content-Type: application/octet-stream;\r\n"
                                " name=\"=?UTF-8?B?5re75LuYLnR4dA==?=\"\r\n"
                                "Content-Disposition: attachment;\r\n"
                                " filename*=UTF-8''%E6%B7%BB%E4%BB%98.txt\r\n"
                                "Content-Transfer-Encoding: base64\r\n"
                                "\r\n"
                                "AAH//iBiaW5hcnkNCg==\r\n"
                                "--==b1\r\n"
                                "Content-Type: image/png\r\n"
                                "\r\n"
                                "PNG\r\n"
                                "--==b1--\r\n"
                                "epilogue\r\n";
    const MimeMessage parsed = parseMimeMessage(message);
    ASSERT_EQ(parsed.parts.size(), 4u);
    EXPECT_FALSE(parsed.unclosedBoundary);
    const DisplayedMail mail = displayMessage(parsed);
    EXPECT_EQ(mail.from, kAi + " <ai@example.com>");
    EXPECT_EQ(mail.subject, kKenmei);
    EXPECT_EQ(mail.date, "Tue, 1 Dec 2026 10:00:00 +0900");
    EXPECT_EQ(mail.body, kKonnichiwa);
    ASSERT_EQ(mail.parts.size(), 3u);
    EXPECT_EQ(mail.parts[0].label, "(text/html)");
    EXPECT_EQ(mail.parts[1].label, kTenpuTxt);
    EXPECT_EQ(mail.parts[2].label, "(image/png)");
    EXPECT_EQ(partContent(parsed.parts[mail.parts[1].part]), original);
    // The part bodies are views into the message: nothing was copied or changed.
    EXPECT_EQ(parsed.parts[3].body, "PNG");
}

TEST(MimeDecoder, BrokenStructuresShowWhatCanBeShown)
{
    const std::string head = "Subject: x\r\nContent-Type: multipart/mixed; boundary=zz\r\n\r\n";
    {
        // The parts are views into the message: it must outlive them.
        const std::string text = head + "--zz\r\nContent-Type: text/plain\r\n\r\nfirst\r\n--zz\r\n"
                                        "Content-Type: text/plain; name=a.txt\r\n\r\ncut off";
        const MimeMessage m = parseMimeMessage(text);
        EXPECT_TRUE(m.unclosedBoundary);
        ASSERT_EQ(m.parts.size(), 2u);
        EXPECT_EQ(m.parts[1].body, "cut off");
        EXPECT_EQ(displayMessage(m).body, "first");
    }
    {
        const std::string text = head + "no boundary line here\r\n";
        const MimeMessage m = parseMimeMessage(text);
        ASSERT_EQ(m.parts.size(), 1u);
        EXPECT_EQ(displayMessage(m).body, "no boundary line here\n");
    }
    {
        const std::string text = head + "--zz";
        const MimeMessage m = parseMimeMessage(text);
        EXPECT_TRUE(m.unclosedBoundary);
        EXPECT_TRUE(m.parts.empty());
    }
    {
        std::string deep = "Subject: deep\r\n";
        for (int i = 0; i < 40; ++i)
            deep += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\r\n\r\n--b" +
                    std::to_string(i) + "\r\n";
        const MimeMessage m = parseMimeMessage(deep);
        EXPECT_LE(m.parts.size(), 1u);
    }
    {
        std::string many = head;
        for (std::size_t i = 0; i < kMaxMimeParts + 5; ++i)
            many += "--zz\r\n\r\np\r\n";
        const MimeMessage m = parseMimeMessage(many);
        EXPECT_EQ(m.parts.size(), kMaxMimeParts);
        EXPECT_TRUE(m.partsCut);
    }
}

TEST(MimeDecoder, HtmlBecomesPlainTextWithoutFetchingAnything)
{
    const Case cases[] = {
        {"tags dropped, blocks break lines", "<html><body><p>one</p><p>two<br>three</p></body></html>",
         "one\ntwo\nthree"},
        {"entities", "a &amp; b &lt;c&gt; &quot;d&quot; &#65;&#x42; &unknown; &", "a & b <c> \"d\" AB &unknown; &"},
        {"numeric entity to code page 932", "&#x65E5;&#26412;&#35486;", kNihongo},
        {"no such character", "&#x1F600;", "?"},
        {"script and style dropped", "<style>p{}</style>x<script>alert(1)</script>y<img src=\"http://h/i\">", "xy"},
        {"comments dropped", "a<!-- <p>b</p> -->c", "ac"},
        {"white space folded", "a \r\n\t b", "a b"},
        {"unclosed tag ends the text", "a<b", "a"},
        {"code page 932 text kept", "<b>" + kNihongo + "</b>", kNihongo},
    };
    for (const auto& c : cases)
        EXPECT_EQ(htmlToText(c.input), c.expected) << c.what;
    const std::string htmlOnly = "Subject: h\r\nContent-Type: text/html; charset=UTF-8\r\n"
                                 "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                                 "<div>=E3=81=82=E3=81=84</div><div>&amp;</div>";
    EXPECT_EQ(displayMessage(parseMimeMessage(htmlOnly)).body, kAi + "\n&");
}

} // namespace orvalink::mail

namespace orvalink::mail {

TEST(ReplyText, AddressSubjectAndQuotedBody)
{
    const Case addresses[] = {
        {"name and address", "\x82\xa0 <ai@example.com>", "ai@example.com"},
        {"quoted name with <", "\"a<b\" <c@example.com>", "c@example.com"},
        {"bare", "  bob@example.com ", "bob@example.com"},
        {"comment", "bob@example.com (Bob)", "bob@example.com"},
        {"empty", "", ""},
    };
    for (const auto& c : addresses)
        EXPECT_EQ(replyAddress(c.input), c.expected) << c.what;
    const Case subjects[] = {
        {"plain", "Hello", "Re: Hello"},
        {"already a reply", "Re: Hello", "Re: Hello"},
        {"other case", "RE:Hello", "RE:Hello"},
        {"Japanese", "\x8c\x8f\x96\xbc", "Re: \x8c\x8f\x96\xbc"},
        {"empty", "", "Re: "},
    };
    for (const auto& c : subjects)
        EXPECT_EQ(replySubject(c.input), c.expected) << c.what;
    const Case bodies[] = {
        {"lines", "a\nb\n", "> a\r\n> b"},
        {"CR LF and empty line", "a\r\n\r\nb", "> a\r\n> \r\n> b"},
        {"no line end", "a", "> a"},
        {"empty", "", "> "},
    };
    for (const auto& c : bodies)
        EXPECT_EQ(quoteBody(c.input), c.expected) << c.what;
}

} // namespace orvalink::mail
