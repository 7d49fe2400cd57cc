#include "platform/SystemInfo.h"

#include "platform/TextCodec.h"

#include <climits>
#include <pwd.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <vector>

namespace orvalink::platform {

std::string computerName()
{
    char buf[HOST_NAME_MAX + 1] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0)
        return {};
    return fromFileName(buf);
}

std::string userName()
{
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* result = nullptr;
    if (::getpwuid_r(::geteuid(), &pw, buf.data(), buf.size(), &result) == 0 && result && result->pw_name)
        return fromFileName(result->pw_name);
    if (const char* login = ::getlogin())
        return fromFileName(login);
    return {};
}

int processorTypeFromMachine(const std::string& machine)
{
    if (machine == "i386")
        return 386;
    if (machine == "i486")
        return 486;
    if (machine == "i586" || machine == "i686" || machine == "x86_64")
        return 586;
    return 0;
}

int processorType()
{
    utsname u{};
    if (::uname(&u) != 0)
        return 0;
    return processorTypeFromMachine(u.machine);
}

std::uint64_t totalPhysicalMemory()
{
    struct sysinfo si {};
    if (::sysinfo(&si) != 0)
        return 0;
    return static_cast<std::uint64_t>(si.totalram) * si.mem_unit;
}

} // namespace orvalink::platform
