#include "platform/SystemInfo.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace orvalink::platform {

TEST(SystemInfo, ProcessorTypeFromTheMachineName)
{
    struct Case {
        const char* machine;
        int expected;
    };
    const Case cases[] = {{"i386", 386},  {"i486", 486}, {"i586", 586}, {"i686", 586}, {"x86_64", 586},
                          {"aarch64", 0}, {"armv7l", 0}, {"", 0},       {"I686", 0},   {"i786", 0}};
    for (const auto& c : cases)
        EXPECT_EQ(processorTypeFromMachine(c.machine), c.expected) << c.machine;
    utsname u{};
    ASSERT_EQ(::uname(&u), 0);
    EXPECT_EQ(processorType(), processorTypeFromMachine(u.machine));
}

TEST(SystemInfo, NamesAndMemoryComeFromTheSystem)
{
    char host[256] = {};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
    EXPECT_EQ(computerName(), host); // host names are ASCII
    const passwd* pw = ::getpwuid(::geteuid());
    ASSERT_NE(pw, nullptr);
    EXPECT_EQ(userName(), pw->pw_name);
    struct sysinfo si {};
    ASSERT_EQ(::sysinfo(&si), 0);
    EXPECT_EQ(totalPhysicalMemory(), static_cast<std::uint64_t>(si.totalram) * si.mem_unit);
    EXPECT_GT(totalPhysicalMemory(), 0u);
}

} // namespace orvalink::platform
