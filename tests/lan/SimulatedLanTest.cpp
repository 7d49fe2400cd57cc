#include "lan/SimulatedLan.h"

#include "lan/LanTestSupport.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace orvalink::tools {

namespace {

class SimulatedLanTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why;
        if (!SimulatedLan::available(&why))
            GTEST_SKIP() << "needs a simulated LAN: " << why;
        const char* build = std::getenv("ORVALINK_BUILD_DIR");
        m_peer = build ? std::string(build) + "/tools/lan/orvalink-udppeer" : ORVALINK_UDPPEER_PATH;
        ASSERT_EQ(::access(m_peer.c_str(), X_OK), 0) << m_peer << " is not built";
    }

    struct Listener {
        pid_t pid = -1;
        fs::path output;
    };

    // Starts a peer listening on port at host, returning once its socket is bound.
    Listener listen(SimulatedLan& lan, int host, int port, int count, int timeoutMs)
    {
        Listener l;
        l.output = m_dir / ("listen-" + std::to_string(host) + "-" + std::to_string(++m_serial));
        SimulatedLan::Program p;
        p.argv = {m_peer,
                  "listen",
                  std::to_string(port),
                  "--count",
                  std::to_string(count),
                  "--timeout-ms",
                  std::to_string(timeoutMs)};
        p.stdoutPath = l.output.string();
        std::string error;
        l.pid = lan.start(host, p, &error);
        EXPECT_GT(l.pid, 0) << error;
        EXPECT_TRUE(waitForFileText(l.output, "ready\n", 3000)) << "listener on host " << host << " not ready";
        return l;
    }

    // The datagram lines a listener printed after it ended, sorted.
    std::vector<std::string> received(SimulatedLan& lan, const Listener& l)
    {
        int status = -1;
        EXPECT_TRUE(lan.waitExit(l.pid, 5000, &status)) << "listener did not end";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "listener status " << status;
        std::string text = readFile(l.output);
        EXPECT_EQ(text.substr(0, 6), "ready\n");
        return sortedLines(text.substr(std::min<size_t>(6, text.size())));
    }

    void send(SimulatedLan& lan, int host, int fromPort, const std::string& to, int port, const std::string& escaped,
              bool broadcast)
    {
        std::vector<std::string> argv{m_peer, "send", "--from-port", std::to_string(fromPort),
                                      "--to", to,     "--port",      std::to_string(port)};
        if (broadcast)
            argv.push_back("--broadcast");
        argv.push_back(escaped);
        std::string output;
        ASSERT_EQ(lan.run(host, argv, &output, 3000), 0) << "send from host " << host << ": " << output;
    }

    std::string m_peer;
    TempDir m_scratch{"orvalink-lan-test"};
    fs::path m_dir{m_scratch.path()};
    int m_serial = 0;
};

TEST_F(SimulatedLanTest, BroadcastReachesEveryHostIncludingTheSender)
{
    SimulatedLan lan(2);
    Listener one = listen(lan, 1, 24100, 2, 3000);
    Listener two = listen(lan, 2, 24100, 2, 3000);
    send(lan, 1, 24101, "255.255.255.255", 24100, "from\\x01one", true);
    send(lan, 2, 24102, "255.255.255.255", 24100, "two\\\\ \\xff", true);
    const std::vector<std::string> expected{"10.77.0.1 24101 from\\x01one", "10.77.0.2 24102 two\\\\ \\xff"};
    EXPECT_EQ(received(lan, one), expected);
    EXPECT_EQ(received(lan, two), expected);
}

TEST_F(SimulatedLanTest, PersonalDatagramReachesOnlyItsHost)
{
    SimulatedLan lan(3);
    // Each listener ends after the closing broadcast; one that also got the personal datagram
    // addressed to host 2 shows it in place of (or before) that broadcast.
    Listener one = listen(lan, 1, 24200, 1, 3000);
    Listener two = listen(lan, 2, 24200, 2, 3000);
    Listener three = listen(lan, 3, 24200, 1, 3000);
    send(lan, 1, 24201, lan.address(2), 24200, "personal", false);
    send(lan, 1, 24201, "255.255.255.255", 24200, "end", true);
    EXPECT_EQ(received(lan, one), std::vector<std::string>{"10.77.0.1 24201 end"});
    EXPECT_EQ(received(lan, two), (std::vector<std::string>{"10.77.0.1 24201 end", "10.77.0.1 24201 personal"}));
    EXPECT_EQ(received(lan, three), std::vector<std::string>{"10.77.0.1 24201 end"});
}

TEST_F(SimulatedLanTest, EachHostHasItsOwnAddressAndNoOtherInterface)
{
    SimulatedLan lan(3);
    for (int host = 1; host <= 3; ++host) {
        SCOPED_TRACE("host " + std::to_string(host));
        EXPECT_EQ(lan.address(host), "10.77.0." + std::to_string(host));
        std::string out;
        ASSERT_EQ(lan.run(host, {"ip", "-o", "-4", "addr", "show"}, &out, 3000), 0) << out;
        const std::vector<std::string> lines = sortedLines(out);
        ASSERT_EQ(lines.size(), 2u) << out;
        EXPECT_NE(lines[0].find("lo    inet 127.0.0.1/8"), std::string::npos) << lines[0];
        EXPECT_NE(lines[1].find("eth0    inet " + lan.address(host) + "/24 "), std::string::npos) << lines[1];
        ASSERT_EQ(lan.run(host, {"ip", "-o", "link", "show"}, &out, 3000), 0) << out;
        EXPECT_EQ(sortedLines(out).size(), 2u) << "only lo and eth0 may exist:\n" << out;
        ASSERT_EQ(lan.run(host, {"ip", "route", "show", "default"}, &out, 3000), 0) << out;
        EXPECT_EQ(out, "default dev eth0 scope link \n");
    }
    EXPECT_THROW(lan.start(4, {{"true"}, {}, {}, {}, {}}), std::out_of_range);
}

TEST_F(SimulatedLanTest, HostCutOffTheBridgeMissesBroadcastsUntilReconnected)
{
    SimulatedLan lan(3);
    lan.setLinkUp(2, false);
    Listener two = listen(lan, 2, 24300, 1, 3000);
    Listener three = listen(lan, 3, 24300, 2, 3000);
    send(lan, 1, 24301, "255.255.255.255", 24300, "while cut", true);
    lan.setLinkUp(2, true);
    send(lan, 1, 24301, "255.255.255.255", 24300, "reconnected", true);
    EXPECT_EQ(received(lan, two), std::vector<std::string>{"10.77.0.1 24301 reconnected"});
    EXPECT_EQ(received(lan, three),
              (std::vector<std::string>{"10.77.0.1 24301 reconnected", "10.77.0.1 24301 while cut"}));
}

TEST_F(SimulatedLanTest, ProgramsGetTheirEnvironmentDirectoryAndResults)
{
    SimulatedLan lan(1);
    std::string out;
    EXPECT_EQ(lan.run(1, {"sh", "-c", "echo hello; echo oops >&2; exit 3"}, &out, 3000), 3);
    EXPECT_EQ(out, "hello\n");
    EXPECT_EQ(lan.run(1, {"sh", "-c", "kill -KILL $$"}, &out, 3000), 128 + SIGKILL);

    const auto before = Clock::now();
    EXPECT_EQ(lan.run(1, {"sleep", "30"}, &out, 200), -1);
    EXPECT_LT(Clock::now() - before, std::chrono::seconds(3));

    std::string error;
    EXPECT_EQ(lan.start(1, {{"/nonexistent/program"}, {}, {}, {}, {}}, &error), -1);
    EXPECT_NE(error.find("/nonexistent/program"), std::string::npos) << error;
    EXPECT_EQ(lan.start(1, {{"true"}, {}, (m_dir / "missing").string(), {}, {}}, &error), -1);
    EXPECT_NE(error.find("working directory"), std::string::npos) << error;

    fs::create_directories(m_dir / "work");
    SimulatedLan::Program p;
    p.argv = {"sh", "-c", "echo \"$ORVALINK_PROBE $(pwd)\"; echo err >&2; exit 5"};
    p.env = {{"ORVALINK_PROBE", "probe value"}, {"PATH", std::getenv("PATH")}};
    p.workDir = (m_dir / "work").string();
    p.stdoutPath = (m_dir / "out.txt").string();
    p.stderrPath = (m_dir / "err.txt").string();
    const pid_t pid = lan.start(1, p, &error);
    ASSERT_GT(pid, 0) << error;
    int status = 0;
    ASSERT_TRUE(lan.waitExit(pid, 3000, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 5);
    status = 0;
    EXPECT_TRUE(lan.waitExit(pid, 0, &status)) << "an ended program stays ended";
    EXPECT_EQ(WEXITSTATUS(status), 5);
    EXPECT_EQ(readFile(m_dir / "out.txt"), "probe value " + (m_dir / "work").string() + "\n");
    EXPECT_EQ(readFile(m_dir / "err.txt"), "err\n");
    EXPECT_FALSE(lan.waitExit(::getpid(), 0)) << "only programs started here are waited for";
}

TEST_F(SimulatedLanTest, DestructionLeavesNoKeeperProgramOrDescendant)
{
    std::vector<pid_t> pids;
    {
        SimulatedLan lan(2);
        pids = lan.keeperPids();
        ASSERT_EQ(pids.size(), 3u);
        for (int host = 1; host <= 2; ++host) {
            const pid_t pid = lan.start(host, {{"sleep", "1000"}, {}, {}, {}, {}});
            ASSERT_GT(pid, 0);
            pids.push_back(pid);
        }
        // A descendant in a session of its own escapes the program's process group; only the
        // namespace's keeper can find it.
        const fs::path pidFile = m_dir / "escaped.pid";
        const pid_t parent = lan.start(
            1, {{"sh", "-c", "setsid sleep 1000 & echo $! > " + pidFile.string() + "; exit 0"}, {}, {}, {}, {}});
        ASSERT_GT(parent, 0);
        ASSERT_TRUE(lan.waitExit(parent, 3000));
        ASSERT_TRUE(waitForFileText(pidFile, "\n", 3000));
        const pid_t escaped = std::stoi(readFile(pidFile));
        ASSERT_TRUE(processRuns(escaped));
        pids.push_back(escaped);
        for (pid_t pid : pids)
            ASSERT_TRUE(processRuns(pid)) << pid;
        lan.setGracePeriod(500);
    }
    for (pid_t pid : pids)
        EXPECT_FALSE(processRuns(pid)) << "process " << pid << " outlived the simulated LAN";
}

TEST_F(SimulatedLanTest, ProgramIgnoringSigtermIsStillEnded)
{
    const fs::path ready = m_dir / "ready";
    pid_t pid = -1;
    const auto before = Clock::now();
    {
        SimulatedLan lan(1);
        lan.setGracePeriod(300);
        pid =
            lan.start(1, {{"sh", "-c", "trap '' TERM; echo ready > " + ready.string() + "; while :; do sleep 1; done"},
                          {},
                          {},
                          {},
                          {}});
        ASSERT_GT(pid, 0);
        ASSERT_TRUE(waitForFileText(ready, "ready", 3000));
        lan.signal(pid, SIGTERM);
        EXPECT_FALSE(lan.waitExit(pid, 200)) << "the program should have ignored SIGTERM";
    }
    EXPECT_FALSE(processRuns(pid));
    EXPECT_LT(Clock::now() - before, std::chrono::seconds(5));
}

TEST_F(SimulatedLanTest, NothingRemainsWhenTheOwnerIsKilled)
{
    // Orphans of the killed owner come to this process, which reaps them below, rather than
    // lingering as zombies under an init that may not reap.
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    int channel[2];
    ASSERT_EQ(::pipe2(channel, O_CLOEXEC), 0); // the owner's programs must not hold it
    const pid_t owner = ::fork();
    ASSERT_GE(owner, 0);
    if (owner == 0) {
        // The owner: builds a LAN, reports every pid, then waits to be killed.
        ::close(channel[0]);
        try {
            SimulatedLan lan(2);
            std::vector<pid_t> pids = lan.keeperPids();
            for (int host = 1; host <= 2; ++host)
                pids.push_back(lan.start(host, {{"sleep", "1000"}, {}, {}, {}, {}}));
            for (pid_t pid : pids)
                dprintf(channel[1], "%d\n", int(pid));
            ::close(channel[1]);
            ::pause();
        } catch (...) {
        }
        ::_exit(1);
    }
    ::close(channel[1]);
    std::string text;
    char buf[256];
    for (ssize_t n; (n = ::read(channel[0], buf, sizeof buf)) > 0;)
        text.append(buf, static_cast<size_t>(n));
    ::close(channel[0]);
    std::vector<pid_t> pids;
    std::istringstream in(text);
    for (int pid; in >> pid;)
        pids.push_back(pid);
    ASSERT_EQ(pids.size(), 5u) << text;
    for (pid_t pid : pids)
        ASSERT_TRUE(pid > 0 && processRuns(pid)) << pid;

    ::kill(owner, SIGKILL);
    ::waitpid(owner, nullptr, 0);
    EXPECT_TRUE(waitUntilEnded(pids, 3000)) << "a keeper or program outlived its killed owner";
    while (::waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
}

} // namespace

} // namespace orvalink::tools
