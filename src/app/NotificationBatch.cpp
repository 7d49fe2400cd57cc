#include "app/NotificationBatch.h"

#include "platform/text/Cp932.h"

namespace orvalink::app {

void NotificationBatch::add(Message message)
{
    ++m_count;
    if (message.personal)
        ++m_personal;
    m_newest = std::move(message);
}

void NotificationBatch::clear()
{
    *this = NotificationBatch();
}

std::string NotificationBatch::summary() const
{
    if (m_count == 1) {
        const std::string from =
            platform::cp932ToUtf8(m_newest.sender) + " (" + platform::cp932ToUtf8(m_newest.groupName) + ")";
        return m_newest.personal ? from + " 個人宛" : from;
    }
    std::string s = "新しいメッセージ " + std::to_string(m_count) + " 件";
    if (m_personal > 0)
        s += " (個人宛 " + std::to_string(m_personal) + " 件)";
    return s;
}

std::string NotificationBatch::body() const
{
    const std::string text = startOf(platform::cp932ToUtf8(m_newest.text), kTextChars);
    if (m_count == 1)
        return text;
    return "最新: " + platform::cp932ToUtf8(m_newest.sender) + " (" + platform::cp932ToUtf8(m_newest.groupName) + ") " +
           text;
}

std::string NotificationBatch::senderOf(std::string_view memberKey)
{
    const std::size_t first = memberKey.find('#');
    const std::size_t second = first == std::string_view::npos ? first : memberKey.find('#', first + 1);
    return std::string(second == std::string_view::npos ? memberKey : memberKey.substr(second + 1));
}

std::string NotificationBatch::startOf(std::string_view utf8, std::size_t chars)
{
    std::string out;
    std::size_t taken = 0;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const std::size_t len = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        if (taken == chars)
            return out + "…";
        if (utf8[i] == '\r' || utf8[i] == '\n') {
            // A CR LF is one line break: one space.
            if (!(utf8[i] == '\n' && i > 0 && utf8[i - 1] == '\r'))
                out += ' ', ++taken;
            ++i;
            continue;
        }
        out.append(utf8.substr(i, len));
        ++taken;
        i += len;
    }
    return out;
}

} // namespace orvalink::app
