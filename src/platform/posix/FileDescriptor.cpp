#include "platform/posix/FileDescriptor.h"

#include <cerrno>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

namespace orvalink::platform {

FileDescriptor::~FileDescriptor()
{
    reset();
}

FileDescriptor::FileDescriptor(FileDescriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept
{
    if (this != &other) {
        reset();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

bool FileDescriptor::close()
{
    if (m_fd < 0)
        return true;
    // Not retried on EINTR: Linux has released the descriptor by then, and a second close could
    // hit a file another thread has opened under the same number since.
    return ::close(std::exchange(m_fd, -1)) == 0;
}

void FileDescriptor::reset()
{
    const int saved = errno;
    static_cast<void>(close());
    errno = saved;
}

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool readAll(int fd, std::string& out)
{
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        out.append(chunk, static_cast<std::size_t>(n));
    }
}

bool lockFile(int fd, int operation)
{
    while (::flock(fd, operation) != 0)
        if (errno != EINTR)
            return false;
    return true;
}

} // namespace orvalink::platform
