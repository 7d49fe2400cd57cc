#include "mail/engine/MailAddress.h"

namespace orvalink::mail {

namespace {

constexpr std::size_t kMaxLocalPart = 64;
constexpr std::size_t kMaxDomain = 255;
constexpr std::size_t kMaxLabel = 63;

// 受取人のメールアドレスが正しくありません。
constexpr std::string_view kBadTo = "\x8e\xf3\x8e\xe6\x90l\x82\xcc\x83\x81\x81[\x83\x8b\x83"
                                    "A\x83h\x83\x8c\x83X\x82\xaa\x90\xb3\x82\xb5\x82\xad\x82\xa0\x82\xe8\x82\xdc"
                                    "\x82\xb9\x82\xf1\x81"
                                    "B";
// 差出人のメールアドレス（メール設定の「E-Mailアドレス」）が正しくありません。
constexpr std::string_view kBadFrom =
    "\x8d\xb7\x8fo\x90l\x82\xcc\x83\x81\x81[\x83\x8b\x83"
    "A\x83h\x83\x8c\x83X\x81i\x83\x81\x81[\x83\x8b\x90\xdd\x92\xe8\x82\xcc\x81uE-Mail\x83"
    "A\x83h\x83\x8c\x83X\x81v\x81j\x82\xaa\x90\xb3\x82\xb5\x82\xad\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1\x81"
    "B";
// 名前@ドメインの形のアドレスを一つだけ、空白や < > を付けずに半角で書いてください。メールは送っていません。
constexpr std::string_view kHowToWrite =
    "\x96\xbc\x91O@\x83h\x83\x81\x83"
    "C\x83\x93\x82\xcc\x8c`\x82\xcc\x83"
    "A\x83h\x83\x8c\x83X\x82\xf0\x88\xea\x82\xc2\x82\xbe\x82\xaf\x81"
    "A\x8b\xf3\x94\x92\x82\xe2 < > \x82\xf0\x95t\x82\xaf\x82\xb8\x82\xc9\x94\xbc\x8ap\x82\xc5\x8f\x91\x82\xa2\x82\xc4"
    "\x82\xad\x82\xbe\x82\xb3\x82\xa2\x81"
    "B\x83\x81\x81[\x83\x8b\x82\xcd\x91\x97\x82\xc1\x82\xc4\x82\xa2\x82\xdc\x82\xb9\x82\xf1\x81"
    "B";

bool isLetterOrDigit(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// RFC 5322 atext: letters, digits and the printable specials that need no quoting.
bool isAtext(char c)
{
    return isLetterOrDigit(c) || std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos;
}

// Printable ASCII without the blank.
bool isVisible(char c)
{
    return c > 0x20 && c < 0x7F;
}

bool isDotString(std::string_view text)
{
    if (text.empty() || text.front() == '.' || text.back() == '.')
        return false;
    char previous = 0;
    for (const char c : text) {
        if (c == '.' ? previous == '.' : !isAtext(c))
            return false;
        previous = c;
    }
    return true;
}

bool isQuotedString(std::string_view text)
{
    if (text.size() < 2 || text.front() != '"' || text.back() != '"')
        return false;
    text = text.substr(1, text.size() - 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\') {
            if (++i == text.size() || !isVisible(text[i]))
                return false;
        } else if (c == '"' || !isVisible(c)) {
            return false;
        }
    }
    return true;
}

bool isLabel(std::string_view label)
{
    if (label.empty() || label.size() > kMaxLabel || label.front() == '-' || label.back() == '-')
        return false;
    for (const char c : label)
        if (!isLetterOrDigit(c) && c != '-')
            return false;
    return true;
}

bool isDomain(std::string_view domain)
{
    if (domain.empty() || domain.size() > kMaxDomain)
        return false;
    if (domain.front() == '[') {
        if (domain.size() < 3 || domain.back() != ']')
            return false;
        for (const char c : domain.substr(1, domain.size() - 2))
            if (!isVisible(c) || c == '[' || c == ']' || c == '\\')
                return false;
        return true;
    }
    while (true) {
        const std::size_t dot = domain.find('.');
        if (!isLabel(domain.substr(0, dot)))
            return false;
        if (dot == std::string_view::npos)
            return true;
        domain.remove_prefix(dot + 1);
    }
}

} // namespace

bool isMailbox(std::string_view address)
{
    if (address.empty() || address.size() > kMaxMailboxLength)
        return false;
    // A domain name holds no "@", so the last one splits the two; an address literal's content
    // may, so there the split is the "@" right before its "[".
    std::size_t at = address.rfind('@');
    if (address.back() == ']') {
        const std::size_t open = address.rfind('[');
        at = open == std::string_view::npos || open == 0 ? std::string_view::npos : open - 1;
    }
    if (at == std::string_view::npos || address[at] != '@')
        return false;
    const std::string_view local = address.substr(0, at);
    const std::string_view domain = address.substr(at + 1);
    if (local.size() > kMaxLocalPart)
        return false;
    return (isDotString(local) || isQuotedString(local)) && isDomain(domain);
}

std::string badToAddressText()
{
    return std::string(kBadTo) + "\n" + std::string(kHowToWrite);
}

std::string badFromAddressText()
{
    return std::string(kBadFrom) + "\n" + std::string(kHowToWrite);
}

} // namespace orvalink::mail
