// Start-up of 100 groups (ports 20001-20100): the time until every group's socket is bound and its
// presence announcement and join notice are out, against a baseline that binds 100 plain UDP
// sockets and sends the same two datagrams on each. Runs in a private network namespace.
#include "app/COrvalinkApp.h"
#include "bench/chat/BenchNetwork.h"
#include "chat/CNetMsgThread.h"
#include "chat/ChatGroupTable.h"
#include "chat/wire/ChatDatagram.h"
#include "platform/MessageBoxRecorder.h"

#include <QApplication>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace orvalink::chat {

using app::COrvalinkApp;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kGroups = 100;

double baselineMs()
{
    const auto start = Clock::now();
    std::vector<int> fds;
    for (int g = 0; g < kGroups; ++g) {
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        int on = 1;
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(21001 + g));
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        sockaddr_in to = a;
        to.sin_addr.s_addr = INADDR_BROADCAST;
        for (const std::string& d : {chat::buildPresence("bench"), chat::buildJoin("bench")})
            ::sendto(fd, d.data(), d.size(), MSG_DONTROUTE, reinterpret_cast<sockaddr*>(&to), sizeof to);
        fds.push_back(fd);
    }
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    for (int fd : fds)
        ::close(fd);
    return ms;
}

double listenersMs()
{
    COrvalinkApp program;
    ChatGroupTable& t = program.chatGroups();
    t.groupCount = kGroups;
    for (int g = 0; g < kGroups; ++g) {
        t.groups[static_cast<std::size_t>(g)].port = std::to_string(20001 + g);
        t.groups[static_cast<std::size_t>(g)].name = "g" + std::to_string(g);
        t.groups[static_cast<std::size_t>(g)].displayName = "bench";
    }
    const auto start = Clock::now();
    program.startListeners();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    for (int g = 0; g < kGroups; ++g)
        t.stopListener(g, false);
    return ms;
}

} // namespace

} // namespace orvalink::chat

int main(int argc, char** argv)
{
    using namespace orvalink;
    using namespace orvalink::chat;
    if (!enterBenchNetwork())
        return 0;
    QApplication app(argc, argv);
    platform::MessageBoxRecorder boxes;
    const int runs = 5;
    for (int i = 0; i < runs; ++i) {
        const double base = baselineMs();
        const double ours = listenersMs();
        std::printf("run %d: 100 groups started in %.1f ms; baseline (plain sockets) %.2f ms; ratio %.1f\n", i + 1,
                    ours, base, ours / base);
    }
    return boxes.calls().empty() ? 0 : 1;
}
