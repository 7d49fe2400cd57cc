#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace orvalink::tools {

// A LAN of several hosts that exists only inside private network namespaces: host K sits at
// 10.77.0.K/24 on interface eth0, whose veth peer is a port of one bridge in a further namespace.
// Each host routes everything (255.255.255.255 included) out of eth0, so a broadcast reaches every
// host, the sender included, and nothing can ever reach the machine's real network.
//
// Nothing outlives the object, even when the owning process is killed:
//  - every namespace is held by a keeper process (fork + unshare) that dies with its parent
//    (PR_SET_PDEATHSIG); before it exits it kills every process still inside its namespace, so the
//    namespace disappears with it. No named namespace (/run/netns) is ever created.
//  - every started program has PR_SET_PDEATHSIG(SIGKILL) and its own process group.
// Note: the kernel delivers the death signal when the *thread* that forked exits, so create, use
// and destroy a SimulatedLan on one thread that lives at least as long as the object.
class SimulatedLan {
public:
    struct Program {
        std::vector<std::string> argv;                        // argv[0] is looked up in PATH
        std::vector<std::pair<std::string, std::string>> env; // added to (or replacing) our environment
        std::string workDir;                                  // empty: our working directory
        std::string stdoutPath, stderrPath;                   // empty: inherited; else truncated file
    };

    // How the LAN differs from the plain one.
    struct Options {
        // false: no host has a default route, only the route of its own network, as on a closed
        // LAN without a gateway (Linux then has no route for 255.255.255.255).
        bool defaultRoute = true;
        // These hosts also sit on a second LAN: interface eth1 at 10.78.0.K/24, a port of a bridge
        // of its own (no route beyond it).
        std::vector<int> secondLan;
        // These hosts sit on the second LAN only: as above, and their eth0 cable is pulled.
        std::vector<int> secondLanOnly;
    };

    // True when this process can build a simulated LAN (root, the ip command, unshare works).
    static bool available(std::string* whyNot);

    // Builds hosts 1..hostCount with every interface verified up. Throws std::runtime_error (after
    // undoing whatever was made) when that fails.
    explicit SimulatedLan(int hostCount);
    SimulatedLan(int hostCount, const Options& options);
    // Ends every started program (SIGTERM, then SIGKILL to its process group after the grace
    // period), then every process left in the namespaces, then the keepers.
    ~SimulatedLan();
    SimulatedLan(const SimulatedLan&) = delete;
    SimulatedLan& operator=(const SimulatedLan&) = delete;

    int hostCount() const { return static_cast<int>(m_hostKeepers.size()); }
    std::string address(int host) const; // "10.77.0.N"
    static constexpr const char* kInterface = "eth0";
    std::string secondLanAddress(int host) const; // "10.78.0.N"
    static constexpr const char* kSecondInterface = "eth1";

    // Runs p inside host's namespace. Returns the pid, or -1 with *error set when the program
    // could not be started (no such program, bad working directory, output file not writable).
    pid_t start(int host, const Program& p, std::string* error = nullptr);
    // Waits up to timeoutMs (0: just look) for a program started here to end. True when it has
    // ended; *status then holds its wait status. Works any number of times after the end.
    bool waitExit(pid_t pid, int timeoutMs, int* status = nullptr);
    // Sends sig to a started program that has not yet been reaped (never to any other process).
    void signal(pid_t pid, int sig);
    // Runs argv on host to its end, collecting its standard output. Returns its exit code,
    // 128 + signal when a signal ended it, or -1 when it was killed for passing timeoutMs or could
    // not be started.
    int run(int host, std::vector<std::string> argv, std::string* output, int timeoutMs);

    // A UDP socket of host's namespace, bound to port (0: any) on every address of the host, with
    // SO_BROADCAST on: this process can then send and receive as that host without starting a
    // program there. The caller owns (and closes) the descriptor; -1 with errno on failure.
    int udpSocket(int host, unsigned short port);

    // Plugs a host into the bridge or pulls its cable; returns once the change is in effect.
    void setLinkUp(int host, bool up);
    // How long the destructor waits after SIGTERM before SIGKILL (default 3000 ms).
    void setGracePeriod(int ms) { m_graceMs = ms; }

    // The pids of the keeper processes (the bridge's first), for checks that nothing is left.
    std::vector<pid_t> keeperPids() const;

private:
    struct Keeper {
        pid_t pid = -1;
        int nsFd = -1; // /proc/<pid>/ns/net, close-on-exec
    };
    struct Child {
        bool reaped = false;
        int status = 0;
    };

    Keeper makeKeeper();
    int nsFdOf(int host) const;
    pid_t startWithStdout(int host, const Program& p, int stdoutFd, std::string* error);
    bool reapIfEnded(pid_t pid, int* status);
    void forget(pid_t pid);
    int runIp(int nsFd, const std::vector<std::string>& args, const std::string& batch, std::string* output);
    void waitUntil(const std::string& what, int timeoutMs, const std::function<bool()>& ready);
    bool hostLinkReady(int host);
    bool bridgePortForwarding(int host);
    void teardown();
    void applyOptions(const Options& options);

    std::string m_ip;
    Keeper m_bridge;
    std::vector<Keeper> m_hostKeepers;
    std::mutex m_mutex; // guards m_children
    std::map<pid_t, Child> m_children;
    int m_graceMs = 3000;
};

} // namespace orvalink::tools
