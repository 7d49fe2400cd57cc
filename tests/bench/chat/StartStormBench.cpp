// A start storm: N instances of the program (100 by default) started together on one simulated
// LAN, all in one group. Measures how long until every instance lists every instance, how many
// still miss someone when the time is up, and how many presence announcements went over the LAN
// (counted by a listener on a further host), against the N^2 an instance that answers every
// newcomer at once would send. Runs only inside the namespaces of the simulated LAN.
//
//   ./chat_start_storm_bench [instances] [seconds]
#include "lan/SimulatedLan.h"
#include "platform/Profile.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace orvalink::chat {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string buildDir()
{
    const char* d = std::getenv("ORVALINK_BUILD_DIR");
    return d ? d : ORVALINK_BUILD_DIR_DEFAULT;
}

std::string readAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The member count of group 0 as the instance's stats report it, or -1 without an answer.
int members(const fs::path& dir)
{
    const fs::path out = dir / "stats.txt";
    std::error_code ec;
    fs::remove(out, ec);
    const int fd = ::open((dir / "control.fifo").c_str(), O_WRONLY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    const std::string line = "stats " + out.string() + "\n";
    const bool sent = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    ::close(fd);
    if (!sent)
        return -1;
    for (int i = 0; i < 500 && !fs::exists(out); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    int g = 0, n = -1;
    long rows = 0, bytes = 0;
    std::sscanf(readAll(out).c_str(), "group %d members %d rows %ld bytes %ld", &g, &n, &rows, &bytes);
    return n;
}

} // namespace

} // namespace orvalink::chat

int main(int argc, char** argv)
{
    using namespace orvalink;
    using namespace orvalink::chat;
    const int count = argc > 1 ? std::max(2, std::atoi(argv[1])) : 100;
    const int seconds = argc > 2 ? std::max(10, std::atoi(argv[2])) : 120;
    std::string why;
    if (!tools::SimulatedLan::available(&why)) {
        std::printf("skipped: %s\n", why.c_str());
        return 0;
    }
    char tmpl[] = "/tmp/orvalink-storm-XXXXXX";
    const fs::path root = ::mkdtemp(tmpl);
    tools::SimulatedLan lan(count + 1);
    lan.setGracePeriod(10000);

    // Host count + 1 listens and counts every presence announcement on the group's port.
    const int counter = lan.udpSocket(count + 1, 12121);
    const int big = 16 << 20;
    ::setsockopt(counter, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big);
    long announcements = 0;
    auto countWaiting = [&] {
        char buf[2048];
        for (;;) {
            const ssize_t n = ::recv(counter, buf, sizeof buf, MSG_DONTWAIT);
            if (n < 0)
                return;
            if (std::string(buf, static_cast<std::size_t>(std::min<ssize_t>(n, 13))) == "0001#0001#ON " &&
                std::string(buf, static_cast<std::size_t>(n)).find("#N#") != std::string::npos)
                ++announcements;
        }
    };

    std::vector<fs::path> dirs;
    for (int k = 1; k <= count; ++k) {
        const fs::path dir = root / ("host" + std::to_string(k));
        fs::create_directories(dir / "config/Orvalink");
        ::mkfifo((dir / "control.fifo").c_str(), 0600);
        platform::Profile p((dir / "config/Orvalink/Orvalink.conf").string());
        p.writeInt("NetMsg Entry", "User PortCnt", 1);
        p.writeString("NetMsg Entry", "User Port1", "12121");
        p.writeString("NetMsg Entry", "User PortName1", "G");
        p.writeString("NetMsg Entry", "User Name1", "host" + std::to_string(k));
        dirs.push_back(dir);
    }
    const auto start = Clock::now();
    for (int k = 1; k <= count; ++k) {
        const fs::path& dir = dirs[static_cast<std::size_t>(k - 1)];
        tools::SimulatedLan::Program program;
        program.argv = {buildDir() + "/src/app/orvalink"};
        program.env = {{"XDG_CONFIG_HOME", (dir / "config").string()},
                       {"ORVALINK_MESSAGEBOX_LOG", (dir / "messageboxes.log").string()},
                       {"ORVALINK_AUTOMATION", (dir / "control.fifo").string()},
                       {"QT_QPA_PLATFORM", "offscreen"}};
        program.workDir = dir.string();
        program.stdoutPath = (dir / "stdout.log").string();
        program.stderrPath = (dir / "stderr.log").string();
        lan.start(k, program);
    }

    std::vector<bool> complete(static_cast<std::size_t>(count), false);
    int done = 0;
    double allAfter = -1;
    while (Clock::now() - start < std::chrono::seconds(seconds) && done < count) {
        countWaiting();
        for (int k = 0; k < count; ++k) {
            if (complete[static_cast<std::size_t>(k)])
                continue;
            if (members(dirs[static_cast<std::size_t>(k)]) == count) {
                complete[static_cast<std::size_t>(k)] = true;
                ++done;
            }
            countWaiting();
        }
        if (done == count)
            allAfter = std::chrono::duration<double>(Clock::now() - start).count();
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    // Whatever is still under way settles for a second more before the count is final.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    countWaiting();
    ::close(counter);

    std::printf("%d instances started together:\n", count);
    if (allAfter >= 0)
        std::printf("  all %d list all %d after %.1f s\n", count, count, allAfter);
    else
        std::printf("  after %d s, %d of %d still miss a member\n", seconds, count - done, count);
    std::printf("  presence announcements on the LAN: %ld (answering every newcomer at once: about %d; ratio %.3f)\n",
                announcements, count * count + count, static_cast<double>(announcements) / (count * count + count));
    std::error_code ec;
    fs::remove_all(root, ec);
    return 0;
}
