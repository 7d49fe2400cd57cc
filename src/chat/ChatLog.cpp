#include "chat/ChatLog.h"

#include "platform/MessageBox.h"
#include "platform/Profile.h"
#include "platform/TextCodec.h"
#include "platform/text/Cp932.h"

#include <fcntl.h>
#include <set>
#include <unistd.h>

namespace {

// Log folders whose failure the user has been told about and that no record has reached since.
// Process-wide: all groups log into one folder, and one report is enough for all of them.
std::mutex g_reportedMutex;
std::set<std::string> g_reportedFolders;

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
    m_folder.clear();
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
    std::string path(folder);
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path + "/" + name + std::string(date, n);
}

std::string ChatLog::cannotWriteText(std::string_view path)
{
    return text::utf8ToCp932("チャットログを書き込めません。ログの設定を確かめてください。\n") +
           platform::fromFileName(path);
}

void ChatLog::reportFailure(const std::string& folder, const std::string& path)
{
    {
        std::lock_guard lock(g_reportedMutex);
        if (!g_reportedFolders.insert(folder).second)
            return;
    }
    // Posted: the receive path and the listener must not wait for the user (and this log's lock is
    // held here).
    platform::postMessageBox(cannotWriteText(path.empty() ? folder : path));
}

void ChatLog::failureCleared(const std::string& folder)
{
    std::lock_guard lock(g_reportedMutex);
    g_reportedFolders.erase(folder);
}

void ChatLog::log(std::string_view groupName, std::string_view labelLine, std::string_view text)
{
    std::lock_guard lock(m_mutex);
    const std::time_t now = std::time(nullptr);
    if (!m_file) {
        auto& profile = platform::Profile::application();
        if (profile.getInt("NetMsg Entry", "Log YesNo", 0) == 0)
            return;
        const std::string folder = profile.getPath("NetMsg Entry", "Log Folder");
        const std::string path = fileName(folder, groupName, now);
        if (path.empty()) {
            reportFailure(folder, path);
            return;
        }
        const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        m_file = fd >= 0 ? ::fdopen(fd, "ab") : nullptr;
        if (!m_file) {
            if (fd >= 0)
                ::close(fd);
            reportFailure(folder, path);
            return;
        }
        m_path = path;
        m_folder = folder;
    }
    std::string record;
    record.reserve(labelLine.size() + text.size() + 32);
    record.append(labelLine).append(timeText(now)).append("\r\n").append(text).append("\r\n");
    const bool written = std::fwrite(record.data(), 1, record.size(), m_file) == record.size();
    if (std::fflush(m_file) == 0 && written) {
        failureCleared(m_folder);
    } else {
        std::clearerr(m_file); // the next record tries again
        reportFailure(m_folder, m_path);
    }
}
