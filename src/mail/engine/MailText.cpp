#include "mail/engine/MailText.h"

#include "kanji/Iso2022JpEncoder.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <random>
#include <unistd.h>

namespace orvalink::mail {

namespace {

constexpr std::string_view kWordStart = "=?ISO-2022-JP?B?";
constexpr std::string_view kWordEnd = "?=";
constexpr std::string_view kSubjectName = "Subject: ";

// Header texts go on one line each: a CR or LF typed into them must not start a line of its own.
std::string oneLine(std::string_view text)
{
    std::string line(text);
    for (char& c : line)
        if (c == '\r' || c == '\n')
            c = ' ';
    return line;
}

// A header line that would pass kMaxBodyLine bytes is folded: a CR LF goes in before one of the
// line's own blanks, so that the unfolded line is the typed one byte for byte. The fold takes the
// last blank that keeps the line within the limit, or the first one after it; a line without blanks
// cannot be folded and goes as it is. Lines within the limit are not touched. The blank after the
// field's name ("To: ") is never a fold.
std::string foldedAtBlanks(std::string line)
{
    if (line.size() <= kMaxBodyLine)
        return line;
    std::string out;
    out.reserve(line.size() + line.size() / kMaxBodyLine * 2 + 2);
    std::size_t start = 0; // first byte of the current output line in line
    // Every line starts with its field's name and ": "; a fold needs a byte of the value before it.
    const std::size_t firstFold = line.find(": ") + 3;
    while (line.size() - start > kMaxBodyLine) {
        // A fold at position b (a blank) ends this line after b - start bytes.
        std::size_t fold = std::string::npos;
        for (std::size_t b = start + kMaxBodyLine; b > start && b >= firstFold; --b)
            if (line[b] == ' ' || line[b] == '\t') {
                fold = b;
                break;
            }
        if (fold == std::string::npos)
            for (std::size_t b = std::max(start + kMaxBodyLine + 1, firstFold); b < line.size(); ++b)
                if (line[b] == ' ' || line[b] == '\t') {
                    fold = b;
                    break;
                }
        if (fold == std::string::npos)
            break;
        out.append(line, start, fold - start);
        out += "\r\n";
        start = fold;
    }
    out.append(line, start, std::string::npos);
    return out;
}

std::size_t base64Length(std::size_t bytes)
{
    return (bytes + 2) / 3 * 4;
}

// The length of the character that starts at `i`: a double-byte pair, a half-width katakana with
// its voiced or semi-voiced mark, or one byte. An encoded word never splits one.
std::size_t characterLength(std::string_view text, std::size_t i)
{
    const auto c = static_cast<std::uint8_t>(text[i]);
    const bool more = i + 1 < text.size();
    const auto next = more ? static_cast<std::uint8_t>(text[i + 1]) : 0;
    if (((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) && more && next >= 0x40 && next <= 0xFC && next != 0x7F)
        return 2;
    if (c >= 0xA1 && c <= 0xDD && (next == 0xDE || next == 0xDF))
        return 2;
    return 1;
}

bool isAscii(std::string_view text)
{
    for (char c : text)
        if (static_cast<std::uint8_t>(c) >= 0x80)
            return false;
    return true;
}

constexpr std::string_view kToJis = "\x1B$B";
constexpr std::string_view kToAscii = "\x1B(B";

// Appends one line of the body, dot-stuffed and in ISO-2022-JP, without its CR LF.
void appendLine(std::string_view line, std::string& out)
{
    if (!line.empty() && line.front() == '.')
        out += '.';
    kanji::appendIso2022Jp(line, out);
}

// How many bytes of `line` (whole characters, at least one) go on one output line of at most
// kMaxBodyLine bytes. The cost of each character is that of its own encoding, less the escapes a
// run of its kind shares with its neighbours; the encoder never writes a run longer than that.
std::size_t fittingPrefix(std::string_view line)
{
    std::size_t used = line.front() == '.' ? 1 : 0;
    bool inJis = false;
    std::size_t i = 0;
    while (i < line.size()) {
        const std::size_t length = characterLength(line, i);
        const std::string encoded = kanji::toIso2022Jp(line.substr(i, length));
        const bool jisOnly = encoded.starts_with(kToJis) && encoded.ends_with(kToAscii) &&
                             encoded.size() >= kToJis.size() + kToAscii.size() &&
                             encoded.find('\x1B', kToJis.size()) == encoded.size() - kToAscii.size();
        std::size_t cost;
        if (jisOnly) {
            cost = encoded.size() - kToAscii.size() - (inJis ? kToJis.size() : 0);
        } else {
            // ASCII, or a character written as more than one run: it begins in ASCII or with its
            // own escape and ends in ASCII; a JIS run before it is closed first.
            cost = encoded.size() + (inJis ? kToAscii.size() : 0);
        }
        // The line must be able to return to ASCII after this character.
        const std::size_t closing = jisOnly ? kToAscii.size() : 0;
        if (i > 0 && used + cost + closing > kMaxBodyLine)
            break;
        used += cost;
        inJis = jisOnly;
        i += length;
    }
    return i;
}

// A line longer than a mail line may be goes as several: each break falls between two characters,
// and each part begins and ends in ASCII like any line (the next part switches to JIS again). Every
// character the user wrote is sent; only line ends are added.
void appendBodyLine(std::string_view line, std::string& out)
{
    const std::size_t start = out.size();
    appendLine(line, out);
    if (out.size() - start <= kMaxBodyLine)
        return;
    out.resize(start);
    while (!line.empty()) {
        const std::size_t part = fittingPrefix(line);
        if (out.size() > start)
            out += "\r\n";
        appendLine(line.substr(0, part), out);
        line.remove_prefix(part);
    }
}

// Days since 1970-01-01 -> civil date (proleptic Gregorian).
void civilFromDays(std::int64_t z, int& year, unsigned& month, unsigned& day)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = doy - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0));
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

} // namespace

void appendBase64(std::string_view bytes, std::string& out)
{
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const unsigned v = static_cast<std::uint8_t>(bytes[i]) << 16 | static_cast<std::uint8_t>(bytes[i + 1]) << 8 |
                           static_cast<std::uint8_t>(bytes[i + 2]);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (i < bytes.size()) {
        const bool two = i + 1 < bytes.size();
        const unsigned v =
            static_cast<std::uint8_t>(bytes[i]) << 16 | (two ? static_cast<std::uint8_t>(bytes[i + 1]) << 8 : 0u);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += two ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
}

std::string base64(std::string_view bytes)
{
    std::string out;
    appendBase64(bytes, out);
    return out;
}

MailTime currentMailTime()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return {static_cast<std::int64_t>(now), static_cast<int>(local.tm_gmtoff / 60)};
}

std::string formatMailDate(const MailTime& time)
{
    static constexpr std::array<const char*, 7> kDays = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
    static constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::int64_t local = time.unixSeconds + static_cast<std::int64_t>(time.utcOffsetMinutes) * 60;
    const std::int64_t days = floorDiv(local, 86400);
    const std::int64_t seconds = local - days * 86400;
    int year = 0;
    unsigned month = 1;
    unsigned day = 1;
    civilFromDays(days, year, month, day);
    const auto weekday = static_cast<std::size_t>(((days % 7) + 7) % 7);
    const int offset = time.utcOffsetMinutes < 0 ? -time.utcOffsetMinutes : time.utcOffsetMinutes;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02u %s %04d %02d:%02d:%02d %c%02d%02d", kDays[weekday], day,
                  kMonths[month - 1], year, static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
                  static_cast<int>(seconds % 60), time.utcOffsetMinutes < 0 ? '-' : '+', offset / 60 % 100,
                  offset % 60);
    return text;
}

std::string plainHostName(std::string_view hostName)
{
    bool plain = !hostName.empty() && hostName.size() <= 253 && hostName.front() != '.' && hostName.back() != '.' &&
                 hostName.front() != '-';
    for (std::size_t i = 0; plain && i < hostName.size(); ++i) {
        const char c = hostName[i];
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
        plain = letter || (c == '.' && hostName[i - 1] != '.');
    }
    return plain ? std::string(hostName) : std::string("localhost");
}

std::string newMessageId(const MailTime& time, std::string_view hostName)
{
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    const unsigned long long bits = static_cast<unsigned long long>(random()) << 32 | random();
    char left[96];
    std::snprintf(left, sizeof left, "%lld.%ld.%u.%016llx", static_cast<long long>(time.unixSeconds),
                  static_cast<long>(::getpid()), counter.fetch_add(1), bits);
    return "<" + std::string(left) + "@" + plainHostName(hostName) + ">";
}

std::string subjectHeader(std::string_view typed)
{
    const std::string subject = oneLine(typed);
    std::string out(kSubjectName);
    if (isAscii(subject)) {
        out += subject;
        return foldedAtBlanks(std::move(out));
    }
    // The whole subject goes as encoded words; each holds whole characters, begins and ends in
    // ASCII, and fits on its line with the line's first part ("Subject: " or the folding blank).
    bool firstWord = true;
    std::size_t i = 0;
    while (i < subject.size()) {
        const std::size_t room =
            kMaxFoldedLine - (firstWord ? kSubjectName.size() : 1) - kWordStart.size() - kWordEnd.size();
        std::size_t end = i + characterLength(subject, i);
        std::string chunk = kanji::toIso2022Jp(subject.substr(i, end - i));
        while (end < subject.size()) {
            const std::size_t next = end + characterLength(subject, end);
            std::string wider = kanji::toIso2022Jp(subject.substr(i, next - i));
            if (base64Length(wider.size()) > room)
                break;
            chunk = std::move(wider);
            end = next;
        }
        if (!firstWord)
            out += "\r\n ";
        firstWord = false;
        out += kWordStart;
        appendBase64(chunk, out);
        out += kWordEnd;
        i = end;
    }
    return out;
}

std::string headerBlock(const MailFields& fields)
{
    std::string out = subjectHeader(fields.subject);
    out += "\r\n";
    out += foldedAtBlanks("To: " + oneLine(fields.to));
    out += "\r\n";
    out += kMailerLine;
    out += "\r\nMIME-Version: 1.0\r\n"
           "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
           "Content-Transfer-Encoding: 7bit\r\n";
    out += foldedAtBlanks("From: " + oneLine(fields.from));
    out += "\r\nDate: ";
    out += oneLine(fields.date);
    out += "\r\nMessage-ID: ";
    out += oneLine(fields.messageId);
    out += "\r\n\r\n";
    return out;
}

std::string bodyText(std::string_view body)
{
    std::string out;
    out.reserve(body.size() + body.size() / 4 + 16);
    std::size_t start = 0;
    while (true) {
        std::size_t end = start;
        while (end < body.size() && body[end] != '\r' && body[end] != '\n')
            ++end;
        if (end > start)
            appendBodyLine(body.substr(start, end - start), out);
        if (end == body.size())
            break;
        out += "\r\n";
        // CR LF, a lone CR or a lone LF: each ends one line.
        start = end + (body[end] == '\r' && end + 1 < body.size() && body[end + 1] == '\n' ? 2 : 1);
    }
    return out;
}

std::string mailText(const MailFields& fields)
{
    std::string out = headerBlock(fields);
    out += bodyText(fields.body);
    out += kEndOfData;
    return out;
}

} // namespace orvalink::mail
