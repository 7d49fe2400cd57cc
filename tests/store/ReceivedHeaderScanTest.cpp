#include "store/ReceivedHeaderScan.h"

#include <gtest/gtest.h>
#include <iterator>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace orvalink::store {

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

// What findReceivedMessage must give: the last start at or before `last` that begins a line and
// from which the scan takes the record's texts, tried one by one.
std::optional<std::size_t> findByScanning(std::string_view bytes, std::size_t last, std::size_t length,
                                          const IndexRecord& record)
{
    if (length > bytes.size())
        return std::nullopt;
    for (std::size_t start = std::min(last, bytes.size() - length) + 1; start-- > 0;)
        if ((start == 0 || bytes[start - 1] == '\n') &&
            sameReceivedTexts(scanReceivedHeaders(bytes.substr(start, length)), record))
            return start;
    return std::nullopt;
}

// Looking for a message in a stretch of bytes finds what scanning from every start would: over
// messages back to back, repeated messages, header lines cut by the search range, values longer
// than a field holds, and bytes drawn at random from the pieces of header lines.
TEST(ReceivedHeaderScan, FindingAMessageAgreesWithScanningFromEveryStart)
{
    std::vector<std::string> stretches = {
        "Received: a; one\r\nFrom: x\r\nSubject: s\r\n\r\nbody; more\r\n"
        "Received: b; two\r\nSubject:t\r\nX-Mailer: m\r\n\r\n\r\nSubject: s\r\n"
        "Received: a; one\r\nFrom: x\r\nSubject: s\r\n\r\nbody; more\r\n"
        "\nFrom:\r\nTo: " +
            std::string(1200, 'v') + "\r\nDate: d\r\n;\r\nX-Mailer:",
    };
    std::mt19937 random(7);
    const std::string pieces[] = {"\n",    "\r\n",     ";",   " ",     "a",         "b",
                                  "From:", "Subject:", "To:", "Date:", "X-Mailer:", ":"};
    for (int n = 0; n < 6; ++n) {
        std::string bytes;
        while (bytes.size() < 300)
            bytes += pieces[random() % std::size(pieces)];
        stretches.push_back(bytes);
    }
    for (const std::string& bytes : stretches) {
        for (const std::size_t length : {std::size_t{7}, std::size_t{40}, std::size_t{160}, bytes.size()}) {
            for (std::size_t from = 0; from + length <= bytes.size(); ++from) {
                if (from > 0 && bytes[from - 1] != '\n')
                    continue;
                const IndexRecord record = scanReceivedHeaders(std::string_view(bytes).substr(from, length));
                for (const std::size_t last : {bytes.size(), from, from + 1, from / 2}) {
                    SCOPED_TRACE("length " + std::to_string(length) + ", from " + std::to_string(from) + ", last " +
                                 std::to_string(last));
                    ASSERT_EQ(findReceivedMessage(bytes, last, length, record),
                              findByScanning(bytes, last, length, record));
                }
            }
        }
    }
}

} // namespace

} // namespace orvalink::store
