#include "mail/mime/MailDate.h"

#include "mail/mime/Charset.h"

#include <array>
#include <string>
#include <vector>

namespace orvalink::mail {

namespace {

std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool allDigits(std::string_view s)
{
    return !s.empty() && s.size() <= 9 && s.find_first_not_of("0123456789") == std::string_view::npos;
}

int number(std::string_view s)
{
    int v = 0;
    for (const char c : s)
        v = v * 10 + (c - '0');
    return v;
}

} // namespace

std::optional<std::int64_t> parseMailDate(std::string_view text)
{
    std::vector<std::string> words;
    std::string word;
    for (const char c : text) {
        if (c == ' ' || c == '\t' || c == ',' || c == '\r' || c == '\n') {
            if (!word.empty())
                words.push_back(std::move(word));
            word.clear();
        } else {
            word.push_back(c);
        }
    }
    if (!word.empty())
        words.push_back(word);
    static constexpr std::array<std::string_view, 12> kMonths{"jan", "feb", "mar", "apr", "may", "jun",
                                                              "jul", "aug", "sep", "oct", "nov", "dec"};
    // Find "day month year time" anywhere, so that a leading day name or other text is passed over.
    for (std::size_t i = 0; i + 3 < words.size(); ++i) {
        if (!allDigits(words[i]))
            continue;
        const std::string month = asciiLower(words[i + 1].substr(0, 3));
        int m = 0;
        for (std::size_t k = 0; k < kMonths.size(); ++k) {
            if (month == kMonths[k])
                m = static_cast<int>(k) + 1;
        }
        if (m == 0 || !allDigits(words[i + 2]))
            continue;
        const int day = number(words[i]);
        int year = number(words[i + 2]);
        if (words[i + 2].size() == 2)
            year += year < 50 ? 2000 : 1900;
        const std::string& clock = words[i + 3];
        int hms[3] = {0, 0, 0};
        std::size_t part = 0;
        std::string digits;
        bool ok = true;
        for (const char c : clock + ":") {
            if (c == ':') {
                if (!allDigits(digits) || part >= 3) {
                    ok = false;
                    break;
                }
                hms[part++] = number(digits);
                digits.clear();
            } else {
                digits.push_back(c);
            }
        }
        if (!ok || part < 2 || day < 1 || day > 31 || hms[0] > 23 || hms[1] > 59 || hms[2] > 60)
            continue;
        std::int64_t offset = 0;
        if (i + 4 < words.size()) {
            const std::string& zone = words[i + 4];
            if (zone.size() == 5 && (zone[0] == '+' || zone[0] == '-') && allDigits(zone.substr(1))) {
                const int z = number(std::string_view(zone).substr(1));
                offset = (z / 100 * 60 + z % 100) * 60 * (zone[0] == '-' ? -1 : 1);
            } else if (asciiLower(zone) == "jst") {
                offset = 9 * 3600;
            }
        }
        return daysFromCivil(year, static_cast<unsigned>(m), static_cast<unsigned>(day)) * 86400 + hms[0] * 3600 +
               hms[1] * 60 + hms[2] - offset;
    }
    return std::nullopt;
}

} // namespace orvalink::mail
