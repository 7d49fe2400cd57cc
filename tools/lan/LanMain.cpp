// orvalink-lan: runs one program on every host of a simulated LAN, each instance with its own
// configuration and working directory, until they end or Ctrl-C / SIGTERM ends them.
//   orvalink-lan [--hosts N] [--dir DIR] [--grace-ms MS] [--no-default-route]
//                [--second-lan K,K...] [--second-lan-only K,K...] -- PROGRAM [ARGS...]
// Nothing the instances send can leave the simulated LAN: its hosts have no route to the machine's
// network.
#include "lan/SimulatedLan.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <signal.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace orvalink::tools {

namespace {

int usage()
{
    std::fprintf(stderr, "usage: orvalink-lan [--hosts N] [--dir DIR] [--grace-ms MS] [--no-default-route]\n"
                         "                    [--second-lan K,K...] [--second-lan-only K,K...] -- PROGRAM [ARGS...]\n"
                         "  Starts PROGRAM on hosts 1..N (default 3) of a simulated LAN, host K at 10.77.0.K with\n"
                         "  XDG_CONFIG_HOME=DIR/hostK/config and working directory DIR/hostK (default DIR: a new\n"
                         "  temporary directory). Ctrl-C or SIGTERM ends every instance with SIGTERM (SIGKILL\n"
                         "  after MS milliseconds, default 10000, or at a second Ctrl-C).\n"
                         "  --no-default-route: the hosts have only their network's route, as on a LAN without a\n"
                         "  gateway. --second-lan: these hosts also sit on a second LAN (eth1, 10.78.0.K/24);\n"
                         "  --second-lan-only: these hosts sit on the second LAN alone.\n");
    return 2;
}

bool parseInt(const char* text, int low, int high, int* value)
{
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < low || v > high)
        return false;
    *value = static_cast<int>(v);
    return true;
}

// "1,3,4": host numbers from 1 to 254.
bool parseHosts(const char* text, std::vector<int>* hosts)
{
    std::string list = text;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        int host = 0;
        if (!parseInt(list.substr(start, comma - start).c_str(), 1, 254, &host))
            return false;
        hosts->push_back(host);
        start = comma + 1;
    }
    return true;
}

// X clients inside another network namespace cannot reach the server's abstract socket, only its
// file-system socket; a TCP display (host:N, as ssh forwards it) is out of reach entirely.
void explainDisplay()
{
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland && *wayland)
        std::printf("Wayland display %s (its socket is a file, reachable from every host)\n", wayland);
    if (!display || !*display) {
        if (!wayland || !*wayland)
            std::printf("No DISPLAY or WAYLAND_DISPLAY: windows can only appear on an offscreen platform\n");
        return;
    }
    std::string d = display;
    const size_t colon = d.rfind(':');
    const std::string host = colon == std::string::npos ? d : d.substr(0, colon);
    if (!host.empty() && host != "unix") {
        std::printf("Warning: DISPLAY=%s is reached over TCP, which the simulated hosts cannot do; "
                    "use a local display (:N)\n",
                    display);
        return;
    }
    std::string number = colon == std::string::npos ? "" : d.substr(colon + 1);
    number = number.substr(0, number.find('.'));
    const std::string socket = "/tmp/.X11-unix/X" + number;
    if (::access(socket.c_str(), F_OK) != 0)
        std::printf("Warning: DISPLAY=%s has no socket file %s; the simulated hosts cannot reach an abstract "
                    "X socket\n",
                    display, socket.c_str());
    else
        std::printf("X display %s through %s\n", display, socket.c_str());
}

std::string describeStatus(int status)
{
    if (WIFEXITED(status))
        return "exited with code " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return std::string("ended by signal ") + ::strsignal(WTERMSIG(status));
    return "ended";
}

} // namespace

} // namespace orvalink::tools

int main(int argc, char** argv)
{
    using namespace orvalink;
    using namespace orvalink::tools;
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each line as it happens, also into a pipe or file
    int hosts = 3;
    int graceMs = 10000;
    std::string dir;
    tools::SimulatedLan::Options options;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg == "--no-default-route") {
            options.defaultRoute = false;
            continue;
        }
        if (i + 1 >= argc)
            return usage();
        if (arg == "--hosts") {
            if (!parseInt(argv[++i], 1, 254, &hosts))
                return usage();
        } else if (arg == "--dir") {
            dir = argv[++i];
        } else if (arg == "--second-lan") {
            if (!parseHosts(argv[++i], &options.secondLan))
                return usage();
        } else if (arg == "--second-lan-only") {
            if (!parseHosts(argv[++i], &options.secondLanOnly))
                return usage();
        } else if (arg == "--grace-ms") {
            if (!parseInt(argv[++i], 0, 3600000, &graceMs))
                return usage();
        } else {
            return usage();
        }
    }
    if (i >= argc)
        return usage();
    std::vector<std::string> program(argv + i, argv + argc);

    std::string why;
    if (!tools::SimulatedLan::available(&why)) {
        std::fprintf(stderr, "orvalink-lan: cannot build a simulated LAN: %s\n", why.c_str());
        return 1;
    }

    namespace fs = std::filesystem;
    std::error_code ec;
    if (dir.empty()) {
        std::string pattern = (fs::temp_directory_path(ec) / "orvalink-lan-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            std::fprintf(stderr, "orvalink-lan: cannot make a temporary directory: %s\n", std::strerror(errno));
            return 1;
        }
        dir = pattern;
    }
    dir = fs::absolute(dir, ec).lexically_normal().string();
    for (int host = 1; host <= hosts; ++host) {
        fs::create_directories(fs::path(dir) / ("host" + std::to_string(host)) / "config", ec);
        if (ec) {
            std::fprintf(stderr, "orvalink-lan: cannot make %s/host%d/config: %s\n", dir.c_str(), host,
                         ec.message().c_str());
            return 1;
        }
    }

    // Signals are taken with sigtimedwait; started programs get the default mask back.
    sigset_t waited;
    sigemptyset(&waited);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGCHLD})
        sigaddset(&waited, sig);
    ::sigprocmask(SIG_BLOCK, &waited, nullptr);

    int exitCode = 0;
    try {
        for (const auto* list : {&options.secondLan, &options.secondLanOnly})
            for (int host : *list)
                if (host > hosts)
                    return usage();
        tools::SimulatedLan lan(hosts, options);
        explainDisplay();
        std::vector<pid_t> pids;
        for (int host = 1; host <= hosts; ++host) {
            const std::string home = dir + "/host" + std::to_string(host);
            tools::SimulatedLan::Program p;
            p.argv = program;
            p.env = {{"XDG_CONFIG_HOME", home + "/config"}};
            p.workDir = home;
            p.stdoutPath = home + "/stdout.log";
            p.stderrPath = home + "/stderr.log";
            std::string error;
            const pid_t pid = lan.start(host, p, &error);
            if (pid < 0) {
                std::fprintf(stderr, "orvalink-lan: host %d: %s\n", host, error.c_str());
                return 1; // the LAN's destructor ends the instances already started
            }
            pids.push_back(pid);
            const auto onList = [host](const std::vector<int>& list) {
                return std::find(list.begin(), list.end(), host) != list.end();
            };
            const std::string addresses = onList(options.secondLanOnly) ? lan.secondLanAddress(host)
                                          : onList(options.secondLan)
                                              ? lan.address(host) + " and " + lan.secondLanAddress(host)
                                              : lan.address(host);
            std::printf("host %d: address %s, pid %d, files in %s (XDG_CONFIG_HOME=%s/config, output in "
                        "stdout.log and stderr.log)\n",
                        host, addresses.c_str(), int(pid), home.c_str(), home.c_str());
        }
        std::printf("Running %zu instances; Ctrl-C ends them all. Nothing leaves the simulated LAN.\n", pids.size());
        std::fflush(stdout);

        std::vector<bool> ended(pids.size(), false);
        size_t running = pids.size();
        bool stopping = false;
        timespec deadline{};
        while (running > 0) {
            timespec slice{0, 200 * 1000 * 1000};
            siginfo_t info{};
            const int sig = ::sigtimedwait(&waited, &info, &slice);
            if (sig == SIGINT || sig == SIGTERM || sig == SIGHUP) {
                if (stopping) {
                    std::printf("Killing the remaining instances\n");
                    break; // the destructor sends SIGKILL after a zero grace period
                }
                stopping = true;
                std::printf("Ending every instance (SIGTERM)\n");
                for (size_t k = 0; k < pids.size(); ++k) {
                    if (!ended[k])
                        lan.signal(pids[k], SIGTERM);
                }
                ::clock_gettime(CLOCK_MONOTONIC, &deadline);
                deadline.tv_sec += graceMs / 1000;
                deadline.tv_nsec += (graceMs % 1000) * 1000000L;
            }
            for (size_t k = 0; k < pids.size(); ++k) {
                int status = 0;
                if (!ended[k] && lan.waitExit(pids[k], 0, &status)) {
                    ended[k] = true;
                    --running;
                    std::printf("host %zu: %s\n", k + 1, describeStatus(status).c_str());
                    const bool clean = WIFEXITED(status) && WEXITSTATUS(status) == 0;
                    const bool askedToEnd = stopping && WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM;
                    if (!clean && !askedToEnd)
                        exitCode = 1;
                }
            }
            if (stopping && running > 0) {
                timespec now{};
                ::clock_gettime(CLOCK_MONOTONIC, &now);
                if (now.tv_sec * 1000000000LL + now.tv_nsec >= deadline.tv_sec * 1000000000LL + deadline.tv_nsec) {
                    std::printf("Grace period over: killing the remaining instances\n");
                    break;
                }
            }
            std::fflush(stdout);
        }
        lan.setGracePeriod(0);
        if (running > 0)
            exitCode = 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvalink-lan: %s\n", e.what());
        return 1;
    }
    std::printf("Simulated LAN taken down; files kept in %s\n", dir.c_str());
    return exitCode;
}
