#pragma once

// Whole-program tests on the simulated LAN: each instance of the program runs on a host of its
// own namespace with its own settings folder and working directory; raw UDP peers stand beside
// them. Nothing leaves the namespaces the LAN made.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "lan/ByteEscape.h"
#include "lan/SimulatedLan.h"

namespace lantest {

namespace fs = std::filesystem;

inline std::string buildDir()
{
    const char* d = std::getenv("ORVALINK_BUILD_DIR");
    return d ? d : ORVALINK_BUILD_DIR_FALLBACK;
}
inline std::string programPath() { return buildDir() + "/src/app/orvalink"; }
inline std::string udpPeerPath() { return buildDir() + "/tools/lan/orvalink-udppeer"; }

inline std::string readFile(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> v;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        v.push_back(l);
    return v;
}

// Waits (polling) until pred() holds or timeoutMs passes; returns pred().
template <typename Pred> bool waitUntil(Pred pred, int timeoutMs = 10000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// A working folder per test with one sub-folder per host.
class TestFolder {
public:
    TestFolder()
    {
        char tmpl[] = "/tmp/orvalink-lan-XXXXXX";
        m_root = ::mkdtemp(tmpl);
    }
    ~TestFolder()
    {
        std::error_code ec;
        fs::remove_all(m_root, ec);
    }
    fs::path host(int k) const
    {
        fs::path p = m_root / ("host" + std::to_string(k));
        fs::create_directories(p / "config");
        return p;
    }
    fs::path root() const { return m_root; }

private:
    fs::path m_root;
};

inline simlan::SimulatedLan::Program programOn(const fs::path& hostDir, std::vector<std::string> extraArgs = {})
{
    simlan::SimulatedLan::Program p;
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
inline pid_t startListener(simlan::SimulatedLan& lan, int host, const fs::path& out, unsigned port, int count,
                           int timeoutMs = 15000)
{
    simlan::SimulatedLan::Program p;
    p.argv = {udpPeerPath(), "listen", std::to_string(port), "--count", std::to_string(count), "--timeout-ms",
              std::to_string(timeoutMs)};
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

} // namespace lantest
