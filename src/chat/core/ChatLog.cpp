#include "chat/core/ChatLog.h"

#include "platform/text/Cp932.h"

#include <cerrno>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace orvalink::chat {

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

ChatLog::~ChatLog()
{
    close();
}

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
    std::string name = platform::cp932ToUtf8(groupName);
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
    return platform::utf8ToCp932("チャットログを書き込めません。ログの設定を確かめてください。\n") +
           platform::utf8ToCp932(path);
}

void ChatLog::reportFailure(const std::string& folder, const std::string& path) const
{
    {
        std::lock_guard lock(g_reportedMutex);
        if (!g_reportedFolders.insert(folder).second)
            return;
    }
    // Without waiting: the receive path and the listener must not wait for the user (and this
    // log's lock is held here).
    m_environment.tellUser(cannotWriteText(path.empty() ? folder : path));
}

void ChatLog::failureCleared(const std::string& folder)
{
    std::lock_guard lock(g_reportedMutex);
    g_reportedFolders.erase(folder);
}

void ChatLog::setClock(std::function<std::time_t()> now)
{
    std::lock_guard lock(m_mutex);
    m_now = std::move(now);
}

void ChatLog::log(std::string_view groupName, std::string_view labelLine, std::string_view text)
{
    std::lock_guard lock(m_mutex);
    const std::time_t now = m_now ? m_now() : std::time(nullptr);
    if (!m_file) {
        if (!m_environment.loggingOn())
            return;
        const std::string folder = m_environment.logFolder();
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
        m_startOnNewLine = !endsWithLineBreak(path);
    }
    std::string record;
    record.reserve(labelLine.size() + text.size() + 34);
    // A file left with a torn record (a kill or a full disk in the middle of a write, by an older
    // run) gets the next record on a line of its own, so it does not run on from the torn one.
    if (m_startOnNewLine)
        record.append("\r\n");
    record.append(labelLine).append(timeText(now)).append("\r\n").append(text).append("\r\n");
    switch (writeRecord(::fileno(m_file), record)) {
    case WriteResult::Whole:
        m_startOnNewLine = false;
        failureCleared(m_folder);
        return;
    case WriteResult::Nothing:
        break; // the file ends as it did
    case WriteResult::Torn:
        m_startOnNewLine = true;
        break;
    }
    reportFailure(m_folder, m_path); // the next record tries again
}

bool ChatLog::endsWithLineBreak(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    char tail[2] = {};
    const bool ends =
        ::fstat(fd, &st) == 0 && (st.st_size == 0 || (st.st_size >= 2 && ::pread(fd, tail, 2, st.st_size - 2) == 2 &&
                                                      tail[0] == '\r' && tail[1] == '\n'));
    ::close(fd);
    return ends;
}

ChatLog::WriteResult ChatLog::writeRecord(int fd, std::string_view record)
{
    // One write call per record: on a file opened for appending it lands whole at the end, and
    // a record from another thread or process never comes between its lines. A write that stops
    // short (disk full, a signal) is taken back, so the file never keeps half a record.
    struct stat st {};
    const bool sized = ::fstat(fd, &st) == 0;
    ssize_t n;
    do
        n = ::write(fd, record.data(), record.size());
    while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(record.size()))
        return WriteResult::Whole;
    if (n <= 0 || (sized && ::ftruncate(fd, st.st_size) == 0))
        return WriteResult::Nothing; // the file still ends where it did
    return WriteResult::Torn;
}

} // namespace orvalink::chat
