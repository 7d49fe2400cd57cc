#include "platform/SingleInstance.h"

#include "platform/Profile.h"
#include "support/TestFiles.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orvalink::platform {

using orvalink::test::ScopedEnv;
using orvalink::test::TempDir;

namespace {

// Runs f in a child process and returns its exit status (f's result), like a second instance of
// the program would.
template <typename F> int inChildProcess(F f)
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(f());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(InstanceLock, ASecondInstanceWithTheSameSettingsIsRefused)
{
    TempDir dir;
    InstanceLock first(dir.path());
    ASSERT_TRUE(first.tryLock());
    EXPECT_TRUE(first.tryLock()) << "locking again in the same object keeps the lock";
    EXPECT_EQ(first.lockFilePath(), dir.path() + "/Orvalink.lock");

    EXPECT_EQ(inChildProcess([&] { return InstanceLock(dir.path()).tryLock() ? 1 : 0; }), 0);
    InstanceLock sameProcess(dir.path());
    EXPECT_FALSE(sameProcess.tryLock());

    TempDir other;
    EXPECT_EQ(inChildProcess([&] { return InstanceLock(other.path()).tryLock() ? 1 : 0; }), 1)
        << "another settings folder is another instance";

    first.unlock();
    EXPECT_EQ(inChildProcess([&] { return InstanceLock(dir.path()).tryLock() ? 1 : 0; }), 1);
}

TEST(InstanceLock, ALockLeftByADeadProcessIsTakenOver)
{
    TempDir dir;
    // The child takes the lock and dies without releasing it.
    ASSERT_EQ(inChildProcess([&] {
                  auto* leaked = new InstanceLock(dir.path());
                  return leaked->tryLock() ? 1 : 0;
              }),
              1);
    ASSERT_TRUE(std::filesystem::exists(dir.path() + "/Orvalink.lock"));
    InstanceLock next(dir.path());
    EXPECT_TRUE(next.tryLock());
}

TEST(InstanceLock, DefaultsToTheSettingsFolder)
{
    TempDir dir;
    ScopedEnv configHome("XDG_CONFIG_HOME", dir.path());
    {
        InstanceLock lock;
        EXPECT_EQ(lock.lockFilePath(), dir.path() + "/Orvalink/Orvalink.lock");
        EXPECT_TRUE(lock.tryLock());
        EXPECT_TRUE(std::filesystem::exists(lock.lockFilePath()));
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/Orvalink/Orvalink.lock")) << "released when destroyed";
}

} // namespace orvalink::platform
