#include "lan/SimulatedLan.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace orvalink::tools {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kBridge = "br0";

std::string findIp()
{
    for (const char* p : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
        if (::access(p, X_OK) == 0)
            return p;
    }
    return {};
}

std::string bridgePortName(int host)
{
    return "h" + std::to_string(host);
}

void closeQuietly(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// A forked child starts with whatever the caller blocked or ignored (a launcher blocks SIGTERM to
// wait for it, a network program ignores SIGPIPE); a program must start with the defaults.
void resetSignalsInChild()
{
    for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGTERM, SIGCHLD, SIGUSR1, SIGUSR2})
        ::signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

bool writeAll(int fd, const void* data, size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Reads until end of file; only for pipes whose writer ends soon.
std::string readAll(int fd)
{
    std::string out;
    char buf[4096];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

int msLeft(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Kills every other process inside the caller's network namespace; used by a keeper just before it
// exits so that its namespace (and the veth in it) really ends. Zombies have left their namespace
// already and are not found. Bounded, so a process stuck in the kernel cannot hold the keeper.
void killEveryoneInMyNamespace()
{
    struct stat mine {};
    if (::stat("/proc/self/ns/net", &mine) != 0)
        return;
    const pid_t self = ::getpid();
    for (int round = 0; round < 500; ++round) {
        bool found = false;
        DIR* proc = ::opendir("/proc");
        if (!proc)
            return;
        while (dirent* e = ::readdir(proc)) {
            char* end = nullptr;
            long pid = std::strtol(e->d_name, &end, 10);
            if (*end != '\0' || pid <= 0 || pid == self)
                continue;
            char path[64];
            std::snprintf(path, sizeof path, "/proc/%ld/ns/net", pid);
            struct stat theirs {};
            if (::stat(path, &theirs) == 0 && theirs.st_ino == mine.st_ino && theirs.st_dev == mine.st_dev) {
                ::kill(static_cast<pid_t>(pid), SIGKILL);
                found = true;
            }
        }
        ::closedir(proc);
        if (!found)
            return;
        ::usleep(2000);
    }
}

// Body of a keeper process: owns a fresh network namespace until told to end (SIGTERM, sent by
// the owner or by the kernel when the owner dies), then empties it and exits.
[[noreturn]] void keeperMain(pid_t owner, int readyFd)
{
    ::setpgid(0, 0); // Ctrl-C on the owner's terminal must not end the namespace under the programs
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    ::sigprocmask(SIG_SETMASK, &term, nullptr);
    int err = 0;
    if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || ::getppid() != owner)
        err = ESRCH; // the owner is already gone
    else if (::unshare(CLONE_NEWNET) != 0)
        err = errno;
    writeAll(readyFd, &err, sizeof err);
    if (err != 0)
        ::_exit(1);
    // Inherited descriptors (another keeper's namespace, the owner's output pipe) must not be
    // held here: a reader of that pipe would otherwise wait for the keeper too.
    const int null = ::open("/dev/null", O_RDWR);
    for (int fd = 0; fd <= 2 && null >= 0; ++fd)
        ::dup2(null, fd);
    ::close_range(3, ~0U, 0);
    int sig = 0;
    while (::sigwait(&term, &sig) != 0) {
    }
    killEveryoneInMyNamespace();
    ::_exit(0);
}

pid_t pidfdOpen(pid_t pid)
{
#ifdef SYS_pidfd_open
    return static_cast<pid_t>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

// Why a child could not exec, reported through a close-on-exec pipe.
struct StartFailure {
    int step = 0;
    int error = 0;
};
enum StartStep { kStepNamespace = 1, kStepWorkDir, kStepStdout, kStepStderr, kStepExec, kStepOwnerGone };

std::string describe(const StartFailure& f, const std::string& program)
{
    const char* what = "";
    switch (f.step) {
    case kStepNamespace:
        what = "entering the host's network namespace";
        break;
    case kStepWorkDir:
        what = "changing to the working directory";
        break;
    case kStepStdout:
        what = "opening the standard output file";
        break;
    case kStepStderr:
        what = "opening the standard error file";
        break;
    case kStepExec:
        what = "executing the program";
        break;
    default:
        what = "starting (the owner ended)";
        break;
    }
    return program + ": " + what + " failed: " + std::strerror(f.error);
}

int openOutput(const std::string& path)
{
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

} // namespace

bool SimulatedLan::available(std::string* whyNot)
{
    // Decided once per process by building a one-host LAN, so that a kernel without veth or
    // bridge support is told apart from a fault of the code that uses the LAN.
    static std::once_flag once;
    static std::string reason;
    std::call_once(once, [] {
        if (::geteuid() != 0) {
            reason = "not running as root (network namespaces need it)";
        } else if (findIp().empty()) {
            reason = "the ip command (iproute2) is not installed";
        } else if (::access("/proc/self/ns/net", R_OK) != 0) {
            reason = "/proc/self/ns/net is not readable";
        } else {
            try {
                SimulatedLan trial(1);
            } catch (const std::exception& e) {
                reason = e.what();
            }
        }
    });
    if (whyNot)
        *whyNot = reason;
    return reason.empty();
}

SimulatedLan::SimulatedLan(int hostCount)
{
    if (hostCount < 1 || hostCount > 254)
        throw std::invalid_argument("a simulated LAN has 1 to 254 hosts");
    m_ip = findIp();
    if (m_ip.empty())
        throw std::runtime_error("the ip command (iproute2) is not installed");
    try {
        m_bridge = makeKeeper();
        for (int host = 1; host <= hostCount; ++host)
            m_hostKeepers.push_back(makeKeeper());

        std::string bridgeBatch = std::string("link add ") + kBridge + " type bridge stp_state 0 forward_delay 0\n" +
                                  "link set " + kBridge + " up\n";
        for (int host = 1; host <= hostCount; ++host) {
            const std::string port = bridgePortName(host);
            bridgeBatch += "link add " + port + " type veth peer name " + kInterface + " netns " +
                           std::to_string(m_hostKeepers[static_cast<size_t>(host - 1)].pid) + "\n";
            bridgeBatch += "link set " + port + " master " + kBridge + "\n";
            bridgeBatch += "link set " + port + " up\n";
        }
        std::string output;
        if (runIp(m_bridge.nsFd, {"-batch", "-"}, bridgeBatch, &output) != 0)
            throw std::runtime_error("setting up the bridge failed: " + output);

        for (int host = 1; host <= hostCount; ++host) {
            const std::string dev = kInterface;
            const std::string batch = "link set lo up\n"
                                      "addr add " +
                                      address(host) + "/24 brd + dev " + dev + "\n" + "link set " + dev + " up\n" +
                                      "route add default dev " + dev + "\n";
            if (runIp(nsFdOf(host), {"-batch", "-"}, batch, &output) != 0)
                throw std::runtime_error("setting up host " + std::to_string(host) + " failed: " + output);
        }
        for (int host = 1; host <= hostCount; ++host) {
            waitUntil("host " + std::to_string(host) + " on the bridge", 5000,
                      [this, host] { return hostLinkReady(host) && bridgePortForwarding(host); });
        }
    } catch (...) {
        teardown();
        throw;
    }
}

SimulatedLan::SimulatedLan(int hostCount, const Options& options) : SimulatedLan(hostCount)
{
    try {
        applyOptions(options);
    } catch (...) {
        teardown();
        throw;
    }
}

void SimulatedLan::applyOptions(const Options& options)
{
    std::string output;
    if (!options.defaultRoute) {
        for (int host = 1; host <= hostCount(); ++host) {
            if (runIp(nsFdOf(host), {"route", "del", "default"}, "", &output) != 0)
                throw std::runtime_error("removing the default route of host " + std::to_string(host) +
                                         " failed: " + output);
        }
    }
    std::vector<int> second = options.secondLan;
    second.insert(second.end(), options.secondLanOnly.begin(), options.secondLanOnly.end());
    if (second.empty())
        return;
    const std::string bridge = "br1";
    std::string bridgeBatch =
        "link add " + bridge + " type bridge stp_state 0 forward_delay 0\n" + "link set " + bridge + " up\n";
    for (int host : second) {
        nsFdOf(host); // validates host
        const std::string port = "s" + std::to_string(host);
        bridgeBatch += "link add " + port + " type veth peer name " + kSecondInterface + " netns " +
                       std::to_string(m_hostKeepers[static_cast<size_t>(host - 1)].pid) + "\n";
        bridgeBatch += "link set " + port + " master " + bridge + "\n" + "link set " + port + " up\n";
    }
    if (runIp(m_bridge.nsFd, {"-batch", "-"}, bridgeBatch, &output) != 0)
        throw std::runtime_error("setting up the second bridge failed: " + output);
    for (int host : second) {
        const std::string batch = "addr add " + secondLanAddress(host) + "/24 brd + dev " + kSecondInterface + "\n" +
                                  "link set " + kSecondInterface + " up\n";
        if (runIp(nsFdOf(host), {"-batch", "-"}, batch, &output) != 0)
            throw std::runtime_error("setting up host " + std::to_string(host) +
                                     " on the second LAN failed: " + output);
    }
    for (int host : second) {
        const std::string port = "s" + std::to_string(host);
        waitUntil("host " + std::to_string(host) + " on the second bridge", 5000, [&] {
            std::string out;
            return runIp(nsFdOf(host), {"-o", "link", "show", "dev", kSecondInterface}, "", &out) == 0 &&
                   out.find("LOWER_UP") != std::string::npos &&
                   runIp(m_bridge.nsFd, {"-d", "-o", "link", "show", "dev", port}, "", &out) == 0 &&
                   out.find("bridge_slave state forwarding ") != std::string::npos;
        });
    }
    for (int host : options.secondLanOnly)
        setLinkUp(host, false);
}

SimulatedLan::~SimulatedLan()
{
    teardown();
}

std::string SimulatedLan::address(int host) const
{
    return "10.77.0." + std::to_string(host);
}

std::string SimulatedLan::secondLanAddress(int host) const
{
    return "10.78.0." + std::to_string(host);
}

std::vector<pid_t> SimulatedLan::keeperPids() const
{
    std::vector<pid_t> pids{m_bridge.pid};
    for (const Keeper& k : m_hostKeepers)
        pids.push_back(k.pid);
    return pids;
}

SimulatedLan::Keeper SimulatedLan::makeKeeper()
{
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("pipe failed: ") + std::strerror(errno));
    const pid_t owner = ::getpid();
    Keeper k;
    k.pid = ::fork();
    if (k.pid < 0) {
        int err = errno;
        ::close(ready[0]);
        ::close(ready[1]);
        throw std::runtime_error(std::string("fork failed: ") + std::strerror(err));
    }
    if (k.pid == 0) {
        ::close(ready[0]);
        keeperMain(owner, ready[1]);
    }
    ::close(ready[1]);
    int err = -1;
    ssize_t n;
    while ((n = ::read(ready[0], &err, sizeof err)) < 0 && errno == EINTR) {
    }
    ::close(ready[0]);
    if (n != static_cast<ssize_t>(sizeof err) || err != 0) {
        ::kill(k.pid, SIGKILL);
        while (::waitpid(k.pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        throw std::runtime_error(std::string("making a network namespace failed: ") +
                                 (err > 0 ? std::strerror(err) : "the keeper died"));
    }
    const std::string path = "/proc/" + std::to_string(k.pid) + "/ns/net";
    k.nsFd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (k.nsFd < 0) {
        int openErr = errno;
        ::kill(k.pid, SIGTERM);
        while (::waitpid(k.pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        throw std::runtime_error("opening " + path + " failed: " + std::strerror(openErr));
    }
    return k;
}

int SimulatedLan::udpSocket(int host, unsigned short port)
{
    const int nsFd = nsFdOf(host);
    int fd = -1;
    int error = 0;
    // A thread of its own enters the namespace, so the calling thread never leaves its own; the
    // socket keeps the namespace it was made in.
    std::thread maker([&] {
        if (::setns(nsFd, CLONE_NEWNET) != 0) {
            error = errno;
            return;
        }
        fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            error = errno;
            return;
        }
        const int on = 1;
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_addr.s_addr = htonl(INADDR_ANY);
        any.sin_port = htons(port);
        if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
            ::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
            error = errno;
            ::close(fd);
            fd = -1;
        }
    });
    maker.join();
    if (fd < 0)
        errno = error;
    return fd;
}

int SimulatedLan::nsFdOf(int host) const
{
    if (host < 1 || host > hostCount())
        throw std::out_of_range("no host " + std::to_string(host) + " in the simulated LAN");
    return m_hostKeepers[static_cast<size_t>(host - 1)].nsFd;
}

int SimulatedLan::runIp(int nsFd, const std::vector<std::string>& args, const std::string& batch, std::string* output)
{
    std::vector<std::string> argvStore{m_ip};
    argvStore.insert(argvStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argvStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    // The batch goes in through a memory file: no pipe to fill, no SIGPIPE should ip fail early.
    int in = ::memfd_create("orvalink-ip-batch", MFD_CLOEXEC);
    if (in < 0)
        return -1;
    if (!writeAll(in, batch.data(), batch.size()) || ::lseek(in, 0, SEEK_SET) != 0) {
        ::close(in);
        return -1;
    }
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in);
        return -1;
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        resetSignalsInChild();
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::setns(nsFd, CLONE_NEWNET) != 0)
            ::_exit(126);
        ::dup2(in, 0);
        ::dup2(out[1], 1);
        ::dup2(out[1], 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(in);
    ::close(out[1]);
    if (pid < 0) {
        ::close(out[0]);
        return -1;
    }
    std::string text = readAll(out[0]);
    ::close(out[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (output)
        *output = std::move(text);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void SimulatedLan::waitUntil(const std::string& what, int timeoutMs, const std::function<bool()>& ready)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!ready()) {
        if (Clock::now() >= deadline)
            throw std::runtime_error("timed out waiting for " + what);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

bool SimulatedLan::hostLinkReady(int host)
{
    std::string out;
    if (runIp(nsFdOf(host), {"-o", "link", "show", "dev", kInterface}, "", &out) != 0)
        return false;
    return out.find("LOWER_UP") != std::string::npos && out.find(" state UP ") != std::string::npos;
}

bool SimulatedLan::bridgePortForwarding(int host)
{
    std::string out;
    if (runIp(m_bridge.nsFd, {"-d", "-o", "link", "show", "dev", bridgePortName(host)}, "", &out) != 0)
        return false;
    return out.find("bridge_slave state forwarding ") != std::string::npos;
}

void SimulatedLan::setLinkUp(int host, bool up)
{
    nsFdOf(host); // validates host
    std::string out;
    if (runIp(m_bridge.nsFd, {"link", "set", "dev", bridgePortName(host), up ? "up" : "down"}, "", &out) != 0)
        throw std::runtime_error("switching the link of host " + std::to_string(host) + " failed: " + out);
    const std::string what = "the link of host " + std::to_string(host) + (up ? " to come up" : " to go down");
    if (up) {
        waitUntil(what, 5000, [this, host] { return hostLinkReady(host) && bridgePortForwarding(host); });
    } else {
        waitUntil(what, 5000, [this, host] { return !hostLinkReady(host); });
    }
}

pid_t SimulatedLan::start(int host, const Program& p, std::string* error)
{
    return startWithStdout(host, p, -1, error);
}

pid_t SimulatedLan::startWithStdout(int host, const Program& p, int stdoutFd, std::string* error)
{
    auto fail = [error](std::string why) {
        if (error)
            *error = std::move(why);
        return pid_t(-1);
    };
    if (p.argv.empty())
        return fail("no program given");
    const int nsFd = nsFdOf(host);

    // Everything the child needs is prepared here: after fork only async-signal-safe calls.
    std::vector<std::string> argvStore = p.argv;
    std::vector<char*> argv;
    for (std::string& a : argvStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStore;
    for (char** e = environ; e && *e; ++e) {
        std::string entry = *e;
        const std::string key = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const auto& [k, v] : p.env)
            replaced = replaced || k == key;
        if (!replaced)
            envStore.push_back(std::move(entry));
    }
    for (const auto& [k, v] : p.env)
        envStore.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (std::string& e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return fail(std::string("pipe failed: ") + std::strerror(errno));
    const pid_t owner = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(report[0]);
        auto die = [&](int step) {
            StartFailure f{step, errno};
            writeAll(report[1], &f, sizeof f);
            ::_exit(127);
        };
        ::setpgid(0, 0); // so that teardown reaches whatever the program starts
        resetSignalsInChild();
        if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != owner) {
            errno = ESRCH;
            die(kStepOwnerGone);
        }
        if (::setns(nsFd, CLONE_NEWNET) != 0)
            die(kStepNamespace);
        if (!p.workDir.empty() && ::chdir(p.workDir.c_str()) != 0)
            die(kStepWorkDir);
        if (stdoutFd >= 0) {
            ::dup2(stdoutFd, 1);
        } else if (!p.stdoutPath.empty()) {
            int fd = openOutput(p.stdoutPath);
            if (fd < 0 || ::dup2(fd, 1) < 0)
                die(kStepStdout);
        }
        if (!p.stderrPath.empty()) {
            int fd = p.stderrPath == p.stdoutPath && stdoutFd < 0 ? 1 : openOutput(p.stderrPath);
            if (fd < 0 || ::dup2(fd, 2) < 0)
                die(kStepStderr);
        }
        ::execvpe(argv[0], argv.data(), envp.data());
        die(kStepExec);
    }
    ::close(report[1]);
    if (pid < 0) {
        ::close(report[0]);
        return fail(std::string("fork failed: ") + std::strerror(errno));
    }
    StartFailure failure;
    ssize_t n;
    while ((n = ::read(report[0], &failure, sizeof failure)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    if (n > 0) {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        return fail(describe(failure, p.argv[0]));
    }
    std::lock_guard lock(m_mutex);
    m_children[pid] = Child{};
    return pid;
}

bool SimulatedLan::reapIfEnded(pid_t pid, int* status)
{
    std::lock_guard lock(m_mutex);
    auto it = m_children.find(pid);
    if (it == m_children.end())
        return true; // never ours, or already forgotten: nothing to wait for
    if (!it->second.reaped) {
        int st = 0;
        pid_t r;
        while ((r = ::waitpid(pid, &st, WNOHANG)) < 0 && errno == EINTR) {
        }
        if (r == 0)
            return false;
        // r < 0 (ECHILD) only when the caller ignores SIGCHLD and the kernel reaped it for us.
        it->second.reaped = true;
        it->second.status = r == pid ? st : 0;
    }
    if (status)
        *status = it->second.status;
    return true;
}

bool SimulatedLan::waitExit(pid_t pid, int timeoutMs, int* status)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_children.find(pid) == m_children.end())
            return false;
    }
    if (reapIfEnded(pid, status))
        return true;
    const bool forever = timeoutMs < 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
    int pidfd = pidfdOpen(pid);
    for (;;) {
        if (reapIfEnded(pid, status)) {
            closeQuietly(pidfd);
            return true;
        }
        if (!forever && Clock::now() >= deadline)
            break;
        const int slice = forever ? 1000 : msLeft(deadline);
        if (pidfd >= 0) {
            pollfd pfd{pidfd, POLLIN, 0};
            ::poll(&pfd, 1, slice);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(slice, 2)));
        }
    }
    closeQuietly(pidfd);
    return false;
}

void SimulatedLan::signal(pid_t pid, int sig)
{
    std::lock_guard lock(m_mutex);
    auto it = m_children.find(pid);
    // An unreaped child's pid cannot have been reused, so this never reaches a stranger.
    if (it != m_children.end() && !it->second.reaped)
        ::kill(pid, sig);
}

int SimulatedLan::run(int host, std::vector<std::string> argv, std::string* output, int timeoutMs)
{
    if (output)
        output->clear();
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return -1;
    Program p;
    p.argv = std::move(argv);
    const pid_t pid = startWithStdout(host, p, out[1], nullptr);
    ::close(out[1]);
    if (pid < 0) {
        ::close(out[0]);
        return -1;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    ::fcntl(out[0], F_SETFL, O_NONBLOCK);
    bool ended = false;
    for (;;) {
        char buf[4096];
        ssize_t n = ::read(out[0], buf, sizeof buf);
        if (n > 0) {
            if (output)
                output->append(buf, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || ended)
            break; // end of output, or the program ended and what it wrote has been read
        // Also stop reading once the program has ended (a background child may keep the pipe).
        ended = reapIfEnded(pid, nullptr);
        if (ended)
            continue;
        if (Clock::now() >= deadline)
            break;
        pollfd pfd{out[0], POLLIN, 0};
        ::poll(&pfd, 1, std::min(msLeft(deadline), 20));
    }
    ::close(out[0]);
    int status = 0;
    if (!waitExit(pid, msLeft(deadline), &status)) {
        ::kill(-pid, SIGKILL);
        signal(pid, SIGKILL);
        waitExit(pid, -1);
        forget(pid);
        return -1;
    }
    forget(pid);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void SimulatedLan::forget(pid_t pid)
{
    std::lock_guard lock(m_mutex);
    m_children.erase(pid);
}

void SimulatedLan::teardown()
{
    std::vector<pid_t> running;
    {
        std::lock_guard lock(m_mutex);
        for (auto& [pid, child] : m_children) {
            if (!child.reaped) {
                ::kill(pid, SIGTERM);
                running.push_back(pid);
            }
        }
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_graceMs);
    for (pid_t pid : running)
        waitExit(pid, msLeft(deadline));
    {
        // Only groups of unreaped programs: their pid, and so their group id, cannot have been
        // reused. Whatever ended programs left behind is ended by the keepers' sweep below.
        std::lock_guard lock(m_mutex);
        for (auto& [pid, child] : m_children) {
            if (!child.reaped)
                ::kill(-pid, SIGKILL);
        }
    }
    for (pid_t pid : running)
        waitExit(pid, -1);

    // Our descriptors keep a namespace alive on their own: close them before the keepers end.
    std::vector<Keeper*> keepers{&m_bridge};
    for (Keeper& k : m_hostKeepers)
        keepers.push_back(&k);
    for (Keeper* k : keepers)
        closeQuietly(k->nsFd);
    for (Keeper* k : keepers) {
        if (k->pid > 0)
            ::kill(k->pid, SIGTERM);
    }
    for (Keeper* k : keepers) {
        if (k->pid > 0) {
            while (::waitpid(k->pid, nullptr, 0) < 0 && errno == EINTR) {
            }
            k->pid = -1;
        }
    }
}

} // namespace orvalink::tools
