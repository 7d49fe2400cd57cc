// orvalink-udppeer: one raw UDP endpoint for tests, run inside a simulated LAN host.
//   orvalink-udppeer listen PORT [--count N] [--timeout-ms T]
//   orvalink-udppeer send --from-port P --to ADDR --port Q [--broadcast] ESCAPED
// Datagrams are shown and given in the escape form of platform/text/ByteEscape.h.
#include "platform/text/ByteEscape.h"

#include <arpa/inet.h>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

namespace orvalink::tools {

namespace {

int usage()
{
    std::fprintf(stderr, "usage: orvalink-udppeer listen PORT [--count N] [--timeout-ms T]\n"
                         "       orvalink-udppeer send --from-port P --to ADDR --port Q [--broadcast] ESCAPED\n");
    return 2;
}

std::optional<long> number(std::string_view text, long low, long high)
{
    long value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return std::nullopt;
    return value;
}

int fail(const char* what)
{
    std::fprintf(stderr, "orvalink-udppeer: %s: %s\n", what, std::strerror(errno));
    return 1;
}

int openSocket(bool broadcast, uint16_t port)
{
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int on = 1;
    if (broadcast && ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        ::close(fd);
        return -1;
    }
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    any.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
        int err = errno;
        ::close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

int runListen(int argc, char** argv)
{
    if (argc < 3)
        return usage();
    auto port = number(argv[2], 0, 65535);
    long count = -1, timeoutMs = -1;
    for (int i = 3; i < argc; ++i) {
        const std::string_view opt = argv[i];
        if (i + 1 >= argc)
            return usage();
        auto value = number(argv[++i], 0, 1L << 30);
        if (!value)
            return usage();
        if (opt == "--count")
            count = *value;
        else if (opt == "--timeout-ms")
            timeoutMs = *value;
        else
            return usage();
    }
    if (!port)
        return usage();
    int fd = openSocket(true, static_cast<uint16_t>(*port));
    if (fd < 0)
        return fail("binding the port");
    std::printf("ready\n");
    std::fflush(stdout);
    static char buf[65536];
    for (long received = 0; count < 0 || received < count;) {
        pollfd pfd{fd, POLLIN, 0};
        int r = ::poll(&pfd, 1, static_cast<int>(timeoutMs));
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return fail("waiting for a datagram");
        if (r == 0)
            break; // quiet for timeoutMs
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        ssize_t n = ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail("receiving");
        char address[INET_ADDRSTRLEN] = "?";
        ::inet_ntop(AF_INET, &from.sin_addr, address, sizeof address);
        const std::string shown = platform::escapeBytes(std::string_view(buf, static_cast<size_t>(n)));
        std::printf("%s %u %s\n", address, unsigned(ntohs(from.sin_port)), shown.c_str());
        std::fflush(stdout);
        ++received;
    }
    ::close(fd);
    return 0;
}

int runSend(int argc, char** argv)
{
    std::optional<long> fromPort, toPort;
    std::string to;
    std::optional<std::string> payload;
    bool broadcast = false;
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--broadcast") {
            broadcast = true;
        } else if ((arg == "--from-port" || arg == "--to" || arg == "--port") && i + 1 < argc) {
            const char* value = argv[++i];
            if (arg == "--to")
                to = value;
            else
                (arg == "--port" ? toPort : fromPort) = number(value, arg == "--port" ? 1 : 0, 65535);
        } else if (!payload) {
            payload = platform::unescapeBytes(arg);
            if (!payload) {
                std::fprintf(stderr, "orvalink-udppeer: not in the escape form: %s\n", argv[i]);
                return 1;
            }
        } else {
            return usage();
        }
    }
    if (!fromPort || !toPort || to.empty() || !payload)
        return usage();
    sockaddr_in dest{};
    dest.sin_family = AF_INET;
    dest.sin_port = htons(static_cast<uint16_t>(*toPort));
    if (::inet_pton(AF_INET, to.c_str(), &dest.sin_addr) != 1) {
        std::fprintf(stderr, "orvalink-udppeer: not an IPv4 address: %s\n", to.c_str());
        return 1;
    }
    int fd = openSocket(broadcast, static_cast<uint16_t>(*fromPort));
    if (fd < 0)
        return fail("binding the source port");
    ssize_t n = ::sendto(fd, payload->data(), payload->size(), 0, reinterpret_cast<sockaddr*>(&dest), sizeof dest);
    if (n != static_cast<ssize_t>(payload->size()))
        return fail("sending");
    ::close(fd);
    return 0;
}

} // namespace

} // namespace orvalink::tools

int main(int argc, char** argv)
{
    using namespace orvalink;
    using namespace orvalink::tools;
    if (argc < 2)
        return usage();
    const std::string_view command = argv[1];
    if (command == "listen")
        return runListen(argc, argv);
    if (command == "send")
        return runSend(argc, argv);
    return usage();
}
