#include "lan/LanTestSupport.h"
#include "lan/SimulatedLan.h"

#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace orvalink::tools {

namespace {

class LanLauncherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why;
        if (!SimulatedLan::available(&why))
            GTEST_SKIP() << "needs a simulated LAN: " << why;
        const char* build = std::getenv("ORVALINK_BUILD_DIR");
        m_launcher = build ? std::string(build) + "/tools/lan/orvalink-lan" : ORVALINK_LAN_PATH;
        ASSERT_EQ(::access(m_launcher.c_str(), X_OK), 0) << m_launcher << " is not built";
    }
    void TearDown() override
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    // Starts the launcher on hosts with the given shell script as the program.
    void launch(int hosts, int graceMs, const std::string& script) { launch(hosts, graceMs, {"sh", "-c", script}); }
    void launch(int hosts, int graceMs, const std::vector<std::string>& program)
    {
        std::vector<std::string> args{m_launcher,     "--hosts",    std::to_string(hosts),   "--dir",
                                      m_dir.string(), "--grace-ms", std::to_string(graceMs), "--"};
        args.insert(args.end(), program.begin(), program.end());
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string out = (m_dir / "launcher.out").string();
        m_pid = ::fork();
        ASSERT_GE(m_pid, 0);
        if (m_pid == 0) {
            int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(fd, 1);
            ::dup2(fd, 2);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
    }

    // Sends sig to the launcher and returns its exit code (-1: it did not end within timeoutMs).
    int stop(int sig, int timeoutMs)
    {
        ::kill(m_pid, sig);
        return finish(timeoutMs);
    }
    int finish(int timeoutMs)
    {
        int status = 0;
        if (!waitUntil([&] { return ::waitpid(m_pid, &status, WNOHANG) != 0; }, timeoutMs))
            return -1;
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // The pids of the instances, as the launcher printed them ("host K: address A, pid P, ...").
    std::vector<pid_t> instancePids()
    {
        std::vector<pid_t> pids;
        std::istringstream in(readFile(m_dir / "launcher.out"));
        for (std::string line; std::getline(in, line);) {
            const size_t at = line.find(", pid ");
            if (line.rfind("host ", 0) == 0 && at != std::string::npos)
                pids.push_back(std::atoi(line.c_str() + at + 6));
        }
        return pids;
    }

    std::string m_launcher;
    TempDir m_scratch{"orvalink-launcher-test"};
    fs::path m_dir{m_scratch.path()};
    pid_t m_pid = -1;
};

TEST_F(LanLauncherTest, EachInstanceHasItsOwnHostFilesAndEndsOnSigterm)
{
    launch(2, 3000,
           "trap 'echo ended; exit 0' TERM; "
           "echo \"$XDG_CONFIG_HOME|$(pwd)|$(ip -o -4 addr show dev eth0 | awk '{print $4}')\"; "
           "while :; do sleep 0.05; done");
    for (int host = 1; host <= 2; ++host)
        ASSERT_TRUE(waitForFileText(m_dir / ("host" + std::to_string(host)) / "stdout.log", "\n", 5000)) << host;
    EXPECT_EQ(stop(SIGTERM, 5000), 0);
    for (int host = 1; host <= 2; ++host) {
        const fs::path home = m_dir / ("host" + std::to_string(host));
        EXPECT_EQ(readFile(home / "stdout.log"), (home / "config").string() + "|" + home.string() + "|10.77.0." +
                                                     std::to_string(host) + "/24\nended\n");
        EXPECT_TRUE(fs::is_directory(home / "config"));
    }
    EXPECT_EQ(instancePids().size(), 2u) << readFile(m_dir / "launcher.out");
}

TEST_F(LanLauncherTest, InstanceIgnoringSigtermIsKilledAfterTheGracePeriod)
{
    launch(1, 200, "trap '' TERM; echo up; while :; do sleep 0.05; done");
    ASSERT_TRUE(waitForFileText(m_dir / "host1" / "stdout.log", "up\n", 5000));
    ASSERT_TRUE(waitForFileText(m_dir / "launcher.out", "Running 1 instances", 5000));
    const std::vector<pid_t> pids = instancePids();
    ASSERT_EQ(pids.size(), 1u) << readFile(m_dir / "launcher.out");
    EXPECT_EQ(stop(SIGINT, 5000), 1) << "an instance that had to be killed is a failure";
    EXPECT_FALSE(processRuns(pids[0]));
}

TEST_F(LanLauncherTest, ExitCodeTellsWhetherEveryInstanceEndedCleanly)
{
    launch(2, 200, "exit 0");
    EXPECT_EQ(finish(5000), 0);
    launch(2, 200, "[ \"$(pwd)\" = '" + (m_dir / "host2").string() + "' ] && exit 3; exit 0");
    EXPECT_EQ(finish(5000), 1);
    EXPECT_NE(readFile(m_dir / "launcher.out").find("host 2: exited with code 3"), std::string::npos)
        << readFile(m_dir / "launcher.out");
    launch(2, 200, std::vector<std::string>{"/nonexistent/program"});
    EXPECT_EQ(finish(5000), 1);
    EXPECT_NE(readFile(m_dir / "launcher.out").find("host 1: /nonexistent/program: executing the program failed"),
              std::string::npos)
        << readFile(m_dir / "launcher.out");
}

} // namespace

} // namespace orvalink::tools
