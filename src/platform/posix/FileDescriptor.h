#pragma once

// The POSIX pieces every file reader and writer of the program needs, without Qt: a file
// descriptor that closes itself, a write that goes on until every byte is out, a read to the end
// of the file and a lock, both again after a signal.

#include <string>
#include <string_view>

namespace orvalink::platform {

// An open file that is closed when it goes out of scope; moved, never copied. An object without a
// file holds -1.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : m_fd(fd < 0 ? -1 : fd) {}
    ~FileDescriptor();
    FileDescriptor(FileDescriptor&& other) noexcept;
    // Closes the file held before taking the other's.
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }

    // Closes the file now. False when close() reports an error, which for a file just written can
    // be the write that failed late (a full disk over NFS, a quota); true when nothing was open.
    bool close();
    // Closes the file now, whatever close() says, and leaves errno as it was: an error path that
    // lets go of its file still reports the error that made it give up.
    void reset();

private:
    int m_fd = -1;
};

// Writes all of `bytes` to `fd`: a write that a signal interrupts (EINTR) is made again, a short
// one goes on with the rest. False at the first other failure (errno says which; what went before
// it is written) and when a write takes nothing.
bool writeAll(int fd, std::string_view bytes);
// Reads `fd` to its end and appends what it read to `out`; a read that a signal interrupts is made
// again. False at the first other failure (errno says which; `out` keeps what came before it).
bool readAll(int fd, std::string& out);
// flock(fd, operation), made again when a signal interrupts the wait; false when it fails otherwise.
bool lockFile(int fd, int operation);

} // namespace orvalink::platform
