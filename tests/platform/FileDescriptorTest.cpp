#include "platform/posix/FileDescriptor.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

namespace orvalink::platform {

namespace {

bool isOpenDescriptor(int fd)
{
    return ::fcntl(fd, F_GETFD) != -1;
}

// Both ends of a new pipe, each closed with its FileDescriptor.
struct Pipe {
    Pipe()
    {
        int fds[2] = {-1, -1};
        EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        read = FileDescriptor(fds[0]);
        write = FileDescriptor(fds[1]);
    }
    FileDescriptor read;
    FileDescriptor write;
};

std::string pattern(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

std::string readAvailable(int fd)
{
    std::string bytes;
    char chunk[4096];
    for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;)
        bytes.append(chunk, static_cast<std::size_t>(n));
    return bytes;
}

std::atomic<int> g_alarms{0};

void countAlarm(int)
{
    g_alarms.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

// A file is closed exactly once, by whichever object holds it last; errno survives a reset.
TEST(FileDescriptor, IsClosedByItsLastOwnerOnly)
{
    Pipe p;
    const int a = p.read.get();
    const int b = p.write.get();
    {
        FileDescriptor moved(std::move(p.read));
        EXPECT_FALSE(p.read.isOpen());
        EXPECT_EQ(moved.get(), a);
        FileDescriptor other(std::move(p.write));
        moved = std::move(other); // closes a, takes b
        EXPECT_FALSE(isOpenDescriptor(a));
        EXPECT_TRUE(isOpenDescriptor(b));
        EXPECT_FALSE(other.isOpen());
        errno = ENOSPC;
        moved.reset();
        EXPECT_EQ(errno, ENOSPC);
        EXPECT_FALSE(isOpenDescriptor(b));
        EXPECT_TRUE(moved.close()); // nothing left to close
    }
    Pipe q;
    const int c = q.read.get();
    EXPECT_TRUE(q.read.close());
    EXPECT_FALSE(isOpenDescriptor(c));
    {
        FileDescriptor scoped(std::move(q.write));
    }
    EXPECT_FALSE(q.write.isOpen());
    EXPECT_EQ(FileDescriptor(-5).get(), -1);
}

// Runs `peer` on a thread of its own, which never takes SIGALRM, and `op` on this thread while a
// timer raises SIGALRM every 100 µs. Without SA_RESTART each alarm makes a blocked read or write
// come back early: short, or with EINTR. Returns how many alarms landed.
int underAlarms(const std::function<void()>& peer, const std::function<void()>& op)
{
    struct sigaction action {};
    action.sa_handler = countAlarm;
    struct sigaction previous {};
    EXPECT_EQ(::sigaction(SIGALRM, &action, &previous), 0);
    sigset_t alarm;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    ::pthread_sigmask(SIG_BLOCK, &alarm, nullptr); // the peer inherits the mask
    std::thread other(peer);
    ::pthread_sigmask(SIG_UNBLOCK, &alarm, nullptr);
    g_alarms = 0;
    itimerval every{{0, 100}, {0, 100}};
    EXPECT_EQ(::setitimer(ITIMER_REAL, &every, nullptr), 0);
    op();
    itimerval stop{};
    ::setitimer(ITIMER_REAL, &stop, nullptr);
    other.join();
    ::sigaction(SIGALRM, &previous, nullptr);
    return g_alarms.load();
}

// A blocking pipe served slowly by the other end while the reader or the writer is interrupted
// again and again: every byte still arrives once, in order.
TEST(WriteAllAndReadAll, GoOnAfterSignalsAndShortTransfers)
{
    const std::string data = pattern(4 << 20);
    {
        SCOPED_TRACE("writeAll to a reader that drains slowly");
        Pipe p;
        std::string received;
        bool written = false;
        const int alarms = underAlarms(
            [&] {
                char chunk[1024];
                for (ssize_t n; (n = ::read(p.read.get(), chunk, sizeof chunk)) > 0;) {
                    received.append(chunk, static_cast<std::size_t>(n));
                    if (received.size() % (64 * 1024) == 0)
                        std::this_thread::sleep_for(std::chrono::microseconds(200));
                }
            },
            [&] {
                written = writeAll(p.write.get(), data);
                p.write.reset();
            });
        EXPECT_TRUE(written);
        EXPECT_GT(alarms, 0);
        EXPECT_EQ(received.size(), data.size());
        EXPECT_TRUE(received == data);
    }
    {
        SCOPED_TRACE("readAll from a writer that fills slowly");
        Pipe p;
        std::string received = "kept";
        bool read = false;
        // A reader that gave up early closes its end: the writer then stops instead of waiting.
        const auto previous = std::signal(SIGPIPE, SIG_IGN);
        const int alarms = underAlarms(
            [&] {
                for (std::size_t at = 0; at < data.size(); at += 64 * 1024) {
                    if (!writeAll(p.write.get(), std::string_view(data).substr(at, 64 * 1024)))
                        break;
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                }
                p.write.reset();
            },
            [&] {
                read = readAll(p.read.get(), received);
                p.read.reset();
            });
        std::signal(SIGPIPE, previous);
        EXPECT_TRUE(read);
        EXPECT_GT(alarms, 0);
        EXPECT_EQ(received.size(), data.size() + 4);
        EXPECT_TRUE(received == "kept" + data);
    }
}

// A read from a file that cannot be read fails; what was read before stays.
TEST(ReadAll, FailsOnADescriptorItCannotRead)
{
    Pipe p;
    std::string out = "before";
    errno = 0;
    EXPECT_FALSE(readAll(p.write.get(), out));
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(out, "before");
}

// A write that fails for another reason stops the copy and says so; what went before it is out.
TEST(WriteAll, StopsAtAFailureOtherThanASignal)
{
    struct Case {
        const char* name;
        std::size_t size;
        bool readerGone;
        int error;
    };
    const Case cases[] = {
        {"full pipe that does not block", 1 << 20, false, EAGAIN},
        {"pipe without a reader", 10, true, EPIPE},
    };
    const auto previous = std::signal(SIGPIPE, SIG_IGN);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Pipe p;
        ASSERT_EQ(::fcntl(p.write.get(), F_SETFL, O_NONBLOCK), 0);
        ASSERT_EQ(::fcntl(p.read.get(), F_SETFL, O_NONBLOCK), 0);
        if (c.readerGone)
            p.read.reset();
        const std::string data = pattern(c.size);
        errno = 0;
        EXPECT_FALSE(writeAll(p.write.get(), data));
        EXPECT_EQ(errno, c.error);
        if (!c.readerGone) {
            const std::string got = readAvailable(p.read.get());
            EXPECT_GT(got.size(), 0u);
            EXPECT_LT(got.size(), data.size());
            EXPECT_TRUE(data.starts_with(got));
        }
    }
    std::signal(SIGPIPE, previous);
}

} // namespace orvalink::platform
