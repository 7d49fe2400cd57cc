#include "support/PrivateNetwork.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace orvalink::test {
namespace {

bool g_ready = false;
std::string g_reason = "the test program did not ask for a private network";

std::string findIp()
{
    for (const char* p : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
        if (::access(p, X_OK) == 0)
            return p;
    }
    return {};
}

bool run(const std::string& ip, std::vector<std::string> args)
{
    pid_t pid = ::fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(ip.c_str()));
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(ip.c_str(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool writeProcFile(const char* path, const std::string& text)
{
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok;
}

std::string g_userNamespaceFailure;

} // namespace

bool becomeRootInUserNamespace()
{
    if (::geteuid() == 0)
        return true;
    static bool tried = false;
    if (tried)
        return g_userNamespaceFailure.empty();
    tried = true;
    // The caller's own uid and gid become 0 inside: enough to make network namespaces, veth pairs and
    // bridges owned by this namespace, and nothing outside it.
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (::unshare(CLONE_NEWUSER) != 0) {
        g_userNamespaceFailure = std::string("not root, and an unprivileged user namespace could not be made: ") +
                                 std::strerror(errno) + " (run as root, or allow user namespaces)";
        return false;
    }
    if (!writeProcFile("/proc/self/setgroups", "deny") ||
        !writeProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n") ||
        !writeProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n")) {
        g_userNamespaceFailure =
            std::string("not root, and mapping root in a user namespace failed: ") + std::strerror(errno);
        return false;
    }
    return true;
}

const std::string& userNamespaceFailure()
{
    return g_userNamespaceFailure;
}

void enterPrivateNetwork()
{
    if (!becomeRootInUserNamespace()) {
        g_reason = g_userNamespaceFailure;
        return;
    }
    const std::string ip = findIp();
    if (ip.empty()) {
        g_reason = "the ip command (iproute2) is not installed";
        return;
    }
    if (::unshare(CLONE_NEWNET) != 0) {
        g_reason = std::string("unshare(CLONE_NEWNET) failed: ") + std::strerror(errno);
        return;
    }
    // From here on the process can only reach interfaces it made itself.
    const bool ok = run(ip, {"link", "set", "lo", "up"}) &&
                    run(ip, {"link", "add", "v0", "type", "veth", "peer", "name", "v1"}) &&
                    run(ip, {"addr", "add", std::string(kPrivateHostAddress) + "/24", "dev", "v0"}) &&
                    run(ip, {"link", "set", "v0", "up"}) && run(ip, {"link", "set", "v1", "up"}) &&
                    run(ip, {"route", "add", "default", "dev", "v0"});
    if (!ok) {
        g_reason = "setting up the veth pair in the private namespace failed";
        return;
    }
    g_ready = true;
}

bool privateNetworkReady()
{
    return g_ready;
}
const std::string& privateNetworkSkipReason()
{
    return g_reason;
}

} // namespace orvalink::test
