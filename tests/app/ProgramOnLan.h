#pragma once

// Whole-program tests on the simulated LAN: each instance of the program runs on a host of its
// own namespace with its own settings folder and working directory; raw UDP peers stand beside
// them. Nothing leaves the namespaces the LAN made.

#include "lan/SimulatedLan.h"
#include "platform/Profile.h"
#include "platform/text/ByteEscape.h"
#include "support/TestFiles.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace orvalink::app {

namespace fs = std::filesystem;

inline std::string buildDir()
{
    const char* d = std::getenv("ORVALINK_BUILD_DIR");
    return d ? d : ORVALINK_BUILD_DIR_DEFAULT;
}
inline std::string programPath()
{
    return buildDir() + "/src/app/orvalink";
}
inline std::string udpPeerPath()
{
    return buildDir() + "/tools/lan/orvalink-udppeer";
}

using orvalink::test::readFile;

// Host 1's mail side as the mail tests on the LAN set it up: a private mail folder under the
// host's folder and one account "home" for taro on the POP3 server at 10.77.0.1:port.
inline fs::path writeMailAccount(const fs::path& hostDir, const std::string& port, const std::string& password)
{
    const fs::path mailDir = hostDir / "mail";
    fs::create_directories(mailDir);
    ::chmod(mailDir.c_str(), 0700);
    platform::Profile p((hostDir / "config/Orvalink/Orvalink.conf").string());
    p.writeString("Mail Entry", "SaveFolder", mailDir.string());
    p.writeInt("Server Entry", "Count", 1);
    p.writeString("Server Entry", "Server Name1", "home");
    p.writeString("Server Entry", "POP Server1", "10.77.0.1");
    p.writeString("Server Entry", "POP PortNo1", port);
    p.writeString("Server Entry", "POP Accunt1", "taro");
    p.writeString("Server Entry", "POP Password1", password);
    return mailDir;
}

inline std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> v;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        v.push_back(l);
    return v;
}

// Waits until pred() holds or timeoutMs passes; returns pred(). Polls every 20 ms: many predicates
// ask the running program for a dump of its state.
template <typename Pred> bool waitUntil(Pred pred, int timeoutMs = 10000)
{
    return orvalink::test::waitUntil(pred, timeoutMs, 20);
}

// A working folder per test with one sub-folder per host.
class TestFolder {
public:
    fs::path host(int k) const
    {
        fs::path p = root() / ("host" + std::to_string(k));
        fs::create_directories(p / "config");
        return p;
    }
    fs::path root() const { return m_dir.path(); }

private:
    orvalink::test::TempDir m_dir{"orvalink-lan"};
};

inline tools::SimulatedLan::Program programOn(const fs::path& hostDir, std::vector<std::string> extraArgs = {})
{
    tools::SimulatedLan::Program p;
    p.argv = {programPath()};
    for (auto& a : extraArgs)
        p.argv.push_back(a);
    p.env = {{"XDG_CONFIG_HOME", (hostDir / "config").string()},
             {"ORVALINK_MESSAGEBOX_LOG", (hostDir / "messageboxes.log").string()},
             {"QT_QPA_PLATFORM", "offscreen"}};
    p.workDir = hostDir.string();
    p.stdoutPath = (hostDir / "stdout.log").string();
    p.stderrPath = (hostDir / "stderr.log").string();
    return p;
}

// A raw UDP listener on host k; its lines are "ADDRESS PORT ESCAPED-BYTES".
inline pid_t startListener(tools::SimulatedLan& lan, int host, const fs::path& out, unsigned port, int count,
                           int timeoutMs = 15000)
{
    tools::SimulatedLan::Program p;
    p.argv = {udpPeerPath(),         "listen",       std::to_string(port),     "--count",
              std::to_string(count), "--timeout-ms", std::to_string(timeoutMs)};
    p.stdoutPath = out.string();
    const pid_t pid = lan.start(host, p);
    waitUntil([&] { return readFile(out).rfind("ready\n", 0) == 0; }, 5000);
    return pid;
}

// The received datagrams of a listener's output (the "ready" line left out).
inline std::vector<std::string> datagrams(const fs::path& out)
{
    auto v = lines(readFile(out));
    if (!v.empty() && v.front() == "ready")
        v.erase(v.begin());
    return v;
}

// One instance of the program on a host, driven through its automation channel.
struct DrivenHost {
    fs::path dir;
    pid_t pid = -1;

    fs::path fifo() const { return dir / "control.fifo"; }

    bool command(const std::string& line) const
    {
        int fd = -1;
        // The program opens the channel itself at start; until then there is no reader.
        waitUntil([&] { return (fd = ::open(fifo().c_str(), O_WRONLY | O_NONBLOCK)) >= 0; }, 10000);
        if (fd < 0)
            return false;
        const std::string l = line + "\n";
        const bool ok = ::write(fd, l.data(), l.size()) == static_cast<ssize_t>(l.size());
        ::close(fd);
        return ok;
    }
    std::vector<std::string> dump() const
    {
        const fs::path out = dir / "state.txt";
        std::error_code ec;
        fs::remove(out, ec);
        if (!command("dump " + out.string()) || !waitUntil([&] { return fs::exists(out); }, 10000))
            return {};
        return lines(readFile(out));
    }
    // Waits until some line of the dump satisfies pred; that line, or empty.
    template <typename Pred> std::string waitForLine(Pred pred, int timeoutMs = 15000) const
    {
        std::string found;
        waitUntil(
            [&] {
                for (const auto& l : dump())
                    if (pred(l))
                        return !(found = l).empty();
                return false;
            },
            timeoutMs);
        return found;
    }
    // Waits until the dump holds every given line.
    bool dumpHas(const std::vector<std::string>& wanted, std::vector<std::string>* last = nullptr) const
    {
        std::vector<std::string> d;
        const bool ok = waitUntil(
            [&] {
                d = dump();
                return std::all_of(wanted.begin(), wanted.end(),
                                   [&](const std::string& w) { return std::find(d.begin(), d.end(), w) != d.end(); });
            },
            15000);
        if (last)
            *last = d;
        return ok;
    }
    std::string log() const
    {
        for (const auto& e : fs::directory_iterator(dir / "logs"))
            return readFile(e.path());
        return {};
    }
};

// The test POP3 server (orvalink-test-pop3host: dovecot with taro/secret) on one host of the LAN,
// given messages through its control FIFO. Its working files lie in the folder start() is given.
class LanPop3Server {
public:
    // Starts it and waits until it listens: "" then, else what it said ("failed ... not installed"
    // when a package is missing, which callers turn into a skip).
    std::string start(tools::SimulatedLan& lan, int host, const std::string& address, const std::string& port,
                      const fs::path& dir)
    {
        m_control = dir / "pop3.fifo";
        ::mkfifo(m_control.c_str(), 0600);
        m_out = dir / "pop3.out";
        tools::SimulatedLan::Program server;
        server.argv = {buildDir() + "/tests/app/orvalink-test-pop3host", address, port, m_control.string()};
        server.stdoutPath = m_out.string();
        server.stderrPath = (dir / "pop3.err").string();
        if (lan.start(host, server) <= 0)
            return "the POP3 server could not be started";
        if (!waitUntil([&] { return !readFile(m_out).empty(); }, 30000))
            return "the POP3 server said nothing within 30 s: " + readFile(dir / "pop3.err");
        const std::string started = readFile(m_out);
        return started == "ready\n" ? std::string() : started;
    }

    // Puts the messages (written as files into scratch) into the mailbox, in order, and waits until
    // the server has them all.
    bool add(const std::vector<std::string>& messages, const fs::path& scratch, int timeoutMs = 10000)
    {
        std::string request;
        for (const std::string& bytes : messages) {
            const fs::path file = scratch / ("message" + std::to_string(++m_added) + ".eml");
            orvalink::test::writeFile(file, bytes);
            request += "add " + file.string() + "\n";
        }
        // Opened without waiting (a server that is gone is a failure, not a hang), then written
        // whole however much the pipe takes at once.
        const int fd = ::open(m_control.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return false;
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        std::size_t done = 0;
        while (done < request.size()) {
            const ssize_t n = ::write(fd, request.data() + done, request.size() - done);
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        const bool written = done == request.size();
        ::close(fd);
        const std::string last = "added " + std::to_string(m_added) + "\n";
        return written && waitUntil([&] { return readFile(m_out).find(last) != std::string::npos; }, timeoutMs);
    }

private:
    fs::path m_control;
    fs::path m_out;
    int m_added = 0;
};

// A POP3 server that could not start for want of a package skips the test (which fails the suite's
// run all the same, naming it); one that is there and does not come up fails it.
#define ORVALINK_START_POP3(server, ...)                                                                               \
    do {                                                                                                               \
        const std::string why_ = (server).start(__VA_ARGS__);                                                          \
        if (why_.find("not installed") != std::string::npos)                                                           \
            GTEST_SKIP() << "needs " << why_;                                                                          \
        ASSERT_EQ(why_, "") << "the POP3 server did not start";                                                        \
    } while (0)

inline std::string joinLines(const std::vector<std::string>& v)
{
    std::string s;
    for (const auto& l : v)
        s += l + "\n";
    return s;
}

// N instances on a simulated LAN, all in one group "G" on port 12121 with display names host1..N
// (or all the same name, sameName), logging into their own logs folder, each driven through its
// automation channel.
class ChatLanTest : public ::testing::Test {
protected:
    void startHosts(int count)
    {
        std::string why;
        if (!tools::SimulatedLan::available(&why))
            GTEST_SKIP() << "needs a simulated LAN: " << why;
        lan = std::make_unique<tools::SimulatedLan>(count, lanOptions);
        lan->setGracePeriod(8000);
        beforePrograms();
        for (int k = 1; k <= count; ++k) {
            DrivenHost h;
            h.dir = folder.host(k);
            fs::create_directories(h.dir / "logs");
            ::mkfifo(h.fifo().c_str(), 0600);
            platform::Profile p((h.dir / "config/Orvalink/Orvalink.conf").string());
            p.writeInt("NetMsg Entry", "User PortCnt", 1);
            p.writeString("NetMsg Entry", "User Port1", "12121");
            p.writeString("NetMsg Entry", "User PortName1", "G");
            p.writeString("NetMsg Entry", "User Name1", nameOf(k));
            p.writeInt("NetMsg Entry", "Log YesNo", 1);
            p.writeString("NetMsg Entry", "Log Folder", (h.dir / "logs").string());
            auto program = programOn(h.dir);
            program.env.push_back({"ORVALINK_AUTOMATION", h.fifo().string()});
            for (const auto& e : extraEnv)
                program.env.push_back(e);
            h.pid = lan->start(k, program);
            hosts.push_back(h);
        }
    }
    // Waits until every host lists every host (itself included) as a member of the group.
    bool everyoneSeesEveryone() const
    {
        for (const auto& h : hosts)
            for (std::size_t k = 1; k <= hosts.size(); ++k)
                if (h.waitForLine([&](const std::string& l) {
                         return l == "member 0 " + key(static_cast<int>(k));
                     }).empty())
                    return false;
        return true;
    }
    std::string nameOf(int k) const { return sameName.empty() ? "host" + std::to_string(k) : sameName; }
    std::string key(int k) const { return lan->address(k) + "#12121#" + nameOf(k); }

    std::string sameName;
    // The LAN's topology (set before startHosts), and what is done on it before any program starts.
    tools::SimulatedLan::Options lanOptions;
    virtual void beforePrograms() {}
    // Added to every host's environment.
    std::vector<std::pair<std::string, std::string>> extraEnv;

    TestFolder folder;
    std::unique_ptr<tools::SimulatedLan> lan;
    std::vector<DrivenHost> hosts;
};

} // namespace orvalink::app
