#include "folders/store/ReceivedHeaderScan.h"

#include <gtest/gtest.h>
#include <ostream>
#include <string>

namespace orvalink::folders {

namespace {

struct FieldCase {
    const char* name;
    std::string message;
    std::string IndexRecord::*field;
    std::string expected;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const FieldCase& c, std::ostream* os)
{
    *os << c.name;
}

class HeaderFieldTaken : public ::testing::TestWithParam<FieldCase> {};

TEST_P(HeaderFieldTaken, FromTheMessageText)
{
    const FieldCase& c = GetParam();
    const IndexRecord record = scanReceivedHeaders(c.message);
    EXPECT_EQ(record.*c.field, c.expected);
    EXPECT_EQ(record.status, 1u);
}

const std::string kLongValue = std::string(998, 'a') + "\x82\xa0" + "tail";

INSTANTIATE_TEST_SUITE_P(
    Cases, HeaderFieldTaken,
    ::testing::Values(
        FieldCase{"NoSubjectIsEmpty", "Received: x\r\nFrom: a\r\n\r\nbody\r\n", &IndexRecord::subject, ""},
        FieldCase{"OneByteAfterColonSkipped", "Received: x\r\nSubject:Hello\r\n\r\n", &IndexRecord::subject, "ello"},
        FieldCase{"CrLfAndSpaceNotInValue", "Received: x\r\nTo: taro\r\n\r\n", &IndexRecord::recipient, "taro"},
        FieldCase{"ArrivalAfterFirstSemicolonInContentType",
                  "From: a\r\nContent-Type: text/plain; charset=iso-2022-jp\r\n\r\nx;y\r\n", &IndexRecord::arrivalDate,
                  "charset=iso-2022-jp"},
        FieldCase{"ArrivalFromReceivedLine", "Received: from a by b; Mon, 01 Jan 2024 10:00:00 +0900\r\nTo: c\r\n\r\n",
                  &IndexRecord::arrivalDate, "Mon, 01 Jan 2024 10:00:00 +0900"},
        FieldCase{"NoSemicolonNoArrival", "Received: x\r\nTo: c\r\n", &IndexRecord::arrivalDate, ""},
        FieldCase{"FirstLineNeverMatches", "From: first\r\nSubject: s\r\n\r\n", &IndexRecord::sender, ""},
        FieldCase{"FirstMatchingLineWins", "X: 1\r\nDate: one\r\nDate: two\r\n", &IndexRecord::headerDate, "one"},
        FieldCase{"BodyLineMatchesWhenHeaderLacksIt", "X: 1\r\nSubject: s\r\n\r\nTo: body\r\n", &IndexRecord::recipient,
                  "body"},
        FieldCase{"NameIsCaseSensitive", "X: 1\r\nsubject: lower\r\n", &IndexRecord::subject, ""},
        FieldCase{"MailerFound", "X: 1\r\nX-Mailer: Tool 2\r\n", &IndexRecord::mailer, "Tool 2"},
        FieldCase{"BareLfLineEnd", "X: 1\nTo: taro\nDate: d\n", &IndexRecord::recipient, "taro"},
        FieldCase{"EmptyValueDoesNotTakeNextLine", "X: 1\r\nTo:\r\nFrom: z\r\n", &IndexRecord::recipient, ""},
        FieldCase{"SkippedLfDoesNotTakeNextLine", "X: 1\nTo:\nFrom: z\n", &IndexRecord::recipient, ""},
        FieldCase{"ValueRunsToEndOfText", "X: 1\r\nSubject: no line end", &IndexRecord::subject, "no line end"},
        FieldCase{"NameAtVeryEnd", "X: 1\r\nSubject:", &IndexRecord::subject, ""},
        FieldCase{"NulEndsValue", std::string("X: 1\r\nTo: ab\0cd\r\n", 17), &IndexRecord::recipient, "ab"},
        FieldCase{"LongValueCutOnCharacterBoundary", "X: 1\r\nSubject: " + kLongValue + "\r\n", &IndexRecord::subject,
                  std::string(998, 'a')},
        FieldCase{"ValueOf999BytesKept", "X: 1\r\nSubject: " + std::string(999, 'b') + "\r\n", &IndexRecord::subject,
                  std::string(999, 'b')},
        FieldCase{"HeaderPastSearchRangeNotFound", std::string(kHeaderSearchBytes - 5, 'x') + "\nX-Mailer: late\r\n",
                  &IndexRecord::mailer, ""},
        FieldCase{"ValueCutAtSearchRangeEnd", std::string(kHeaderSearchBytes - 16, 'x') + "\nX-Mailer: abcdefghij\r\n",
                  &IndexRecord::mailer, "abcde"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(ReceivedHeaderScan, AllFieldsOfATypicalMessage)
{
    const std::string message = "Received: from mx by host; Tue, 02 Jan 2024 09:00:00 +0900\r\n"
                                "From: Taro <taro@example.jp>\r\n"
                                "To: hanako@example.jp\r\n"
                                "Subject: \x83\x65\x83\x58\x83\x67\r\n"
                                "Date: Tue, 02 Jan 2024 08:59:00 +0900\r\n"
                                "X-Mailer: Mailer 3\r\n"
                                "\r\n"
                                "body\r\n";
    IndexRecord expected;
    expected.status = 1;
    expected.sender = "Taro <taro@example.jp>";
    expected.subject = "\x83\x65\x83\x58\x83\x67";
    expected.recipient = "hanako@example.jp";
    expected.arrivalDate = "Tue, 02 Jan 2024 09:00:00 +0900";
    expected.headerDate = "Tue, 02 Jan 2024 08:59:00 +0900";
    expected.mailer = "Mailer 3";
    EXPECT_EQ(scanReceivedHeaders(message), expected);
}

} // namespace

} // namespace orvalink::folders
