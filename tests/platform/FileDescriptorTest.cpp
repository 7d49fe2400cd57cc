#include "platform/posix/FileDescriptor.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
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

// A blocking pipe drained slowly while a timer interrupts the writer again and again: its writes
// come back short or with EINTR, and every byte still arrives once, in order.
TEST(WriteAll, GoesOnAfterSignalsAndShortWrites)
{
    Pipe p;
    const std::string data = pattern(4 << 20);
    struct sigaction action {};
    action.sa_handler = countAlarm; // no SA_RESTART: a blocked write returns early
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(SIGALRM, &action, &previous), 0);
    // The reader blocks the alarm (it inherits the mask), so every alarm lands on the writer.
    sigset_t alarm;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &alarm, nullptr), 0);
    std::string received;
    std::thread reader([&] {
        char chunk[1024];
        for (ssize_t n; (n = ::read(p.read.get(), chunk, sizeof chunk)) > 0;) {
            received.append(chunk, static_cast<std::size_t>(n));
            if (received.size() % (64 * 1024) == 0)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    ASSERT_EQ(::pthread_sigmask(SIG_UNBLOCK, &alarm, nullptr), 0);
    g_alarms = 0;
    itimerval every{{0, 100}, {0, 100}};
    ASSERT_EQ(::setitimer(ITIMER_REAL, &every, nullptr), 0);
    const bool written = writeAll(p.write.get(), data);
    itimerval stop{};
    ::setitimer(ITIMER_REAL, &stop, nullptr);
    p.write.reset();
    reader.join();
    ::sigaction(SIGALRM, &previous, nullptr);
    EXPECT_TRUE(written);
    EXPECT_GT(g_alarms.load(), 0);
    EXPECT_EQ(received.size(), data.size());
    EXPECT_TRUE(received == data);
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
