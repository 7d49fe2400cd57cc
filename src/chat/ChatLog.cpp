#include "chat/ChatLog.h"

#include "platform/Profile.h"
#include "platform/TextCodec.h"

namespace {

std::tm localTime(std::time_t t)
{
    std::tm tm{};
    ::localtime_r(&t, &tm);
    return tm;
}

} // namespace

ChatLog::~ChatLog() { close(); }

void ChatLog::close()
{
    std::lock_guard lock(m_mutex);
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
    m_path.clear();
}

bool ChatLog::isOpen() const
{
    std::lock_guard lock(m_mutex);
    return m_file != nullptr;
}

std::string ChatLog::path() const
{
    std::lock_guard lock(m_mutex);
    return m_path;
}

std::string ChatLog::timeText(std::time_t t)
{
    const std::tm tm = localTime(t);
    char buf[64];
    const std::size_t n = std::strftime(buf, sizeof buf, "  %Y/%m/%d  %H:%M:%S", &tm);
    return std::string(buf, n);
}

std::string ChatLog::fileName(std::string_view folder, std::string_view groupName, std::time_t day)
{
    if (folder.empty())
        return {};
    const std::tm tm = localTime(day);
    char date[32];
    const std::size_t n = std::strftime(date, sizeof date, "_%Y%m%d.log", &tm);
    // A "/" in a group name would name a folder and a NUL would cut the path short: they are the
    // bytes a file name cannot hold (neither occurs inside a double-byte character). With the date
    // behind it the name can never be "." or "..", so the log always lands in the log folder.
    std::string name = platform::toFileName(groupName);
    for (char& c : name)
        if (c == '/' || c == '\0')
            c = '_';
    std::string path = platform::toFileName(folder);
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path + "/" + name + std::string(date, n);
}

void ChatLog::log(std::string_view groupName, std::string_view labelLine, std::string_view text)
{
    std::lock_guard lock(m_mutex);
    const std::time_t now = std::time(nullptr);
    if (!m_file) {
        auto& profile = platform::Profile::application();
        if (profile.getInt("NetMsg Entry", "Log YesNo", 0) == 0)
            return;
        const std::string path = fileName(profile.getString("NetMsg Entry", "Log Folder"), groupName, now);
        if (path.empty())
            return;
        m_file = std::fopen(path.c_str(), "ab");
        if (!m_file)
            return;
        m_path = path;
    }
    std::string record;
    record.reserve(labelLine.size() + text.size() + 32);
    record.append(labelLine).append(timeText(now)).append("\r\n").append(text).append("\r\n");
    std::fwrite(record.data(), 1, record.size(), m_file);
    std::fflush(m_file);
}
