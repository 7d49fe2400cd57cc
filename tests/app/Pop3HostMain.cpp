// orvalink-test-pop3host: a real POP3 server (dovecot, through the tests' harness) for the
// whole-program tests, run inside a host namespace of the simulated LAN.
//
//   orvalink-test-pop3host ADDRESS PORT CONTROL
//
// Starts the server on ADDRESS and PORT (user "taro", password "secret") and writes "ready" to
// standard output, or "failed REASON". Then it reads lines from the FIFO CONTROL: "add PATH" puts
// the bytes of the file PATH into the mailbox as a new message and answers "added N" (N messages
// added so far). SIGTERM stops the server and ends the program.

#include "support/MailServers.h"
#include "support/TestFiles.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace orvalink::app {

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onTerm(int)
{
    g_stop = 1;
}

} // namespace

} // namespace orvalink::app

int main(int argc, char** argv)
{
    using namespace orvalink;
    using namespace orvalink::app;
    if (argc != 4) {
        std::fputs("usage: orvalink-test-pop3host ADDRESS PORT CONTROL\n", stderr);
        return 2;
    }
    std::signal(SIGTERM, onTerm);
    std::signal(SIGINT, onTerm);
    orvalink::test::DovecotPop3 server(argv[1], std::atoi(argv[2]));
    if (!server.start()) {
        std::printf("failed %s\n", server.failure().c_str());
        return 1;
    }
    // Read-write, so the FIFO never reports end-of-file when a writer goes away.
    const int control = ::open(argv[3], O_RDWR | O_CLOEXEC);
    if (control < 0) {
        std::printf("failed cannot open %s\n", argv[3]);
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    int added = 0;
    std::string pending;
    while (!g_stop) {
        pollfd p{control, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        char buf[1024];
        const ssize_t n = ::read(control, buf, sizeof buf);
        if (n <= 0)
            continue;
        pending.append(buf, static_cast<std::size_t>(n));
        for (auto nl = pending.find('\n'); nl != std::string::npos; nl = pending.find('\n')) {
            const std::string line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            if (line.rfind("add ", 0) == 0) {
                server.addMessage(orvalink::test::readFile(line.substr(4)));
                std::printf("added %d\n", ++added);
                std::fflush(stdout);
            }
        }
    }
    ::close(control);
    return 0;
}
