#pragma once

// Runs one SMTP conversation (mail/engine/SmtpConversation.h) over a real TCP connection with a
// blocking socket: the few lines of glue the compose window has, for tests and benchmarks that
// talk to a real server without the window. Silence longer than `silenceMs` counts as the
// server's time-out.

#include "mail/engine/SmtpConversation.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace orvalink::test {

struct SmtpRun {
    bool refused = false;  // start() said no: nothing was connected
    bool finished = false; // the server accepted the mail
    std::string messages;  // every message the window would have shown, in order
    std::string sent;      // every byte written
};

// Ends our side and reads what the server still says (its reply to QUIT) until it closes, for at
// most a second: a server that sees its reply met by a reset instead spends noticeably longer on
// every connection (aiosmtpd does: it halves the submission rate).
inline void closeOrderly(int fd)
{
    ::shutdown(fd, SHUT_WR);
    char drain[512];
    pollfd p{fd, POLLIN, 0};
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (std::chrono::steady_clock::now() < end && ::poll(&p, 1, 1000) > 0 &&
           ::recv(fd, drain, sizeof drain, 0) > 0) {
    }
    ::close(fd);
}

inline SmtpRun runSmtp(mail::SmtpConversation& conversation, const mail::SmtpRequest& request,
                       int silenceMs = mail::kReplyTimeoutSeconds * 1000)
{
    SmtpRun run;
    int fd = -1;
    auto apply = [&](const mail::SmtpStep& step) {
        bool writeFailed = false;
        if (!step.send.empty() && fd >= 0) {
            std::size_t done = 0;
            while (done < step.send.size()) {
                const ssize_t n = ::send(fd, step.send.data() + done, step.send.size() - done, MSG_NOSIGNAL);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0) {
                    writeFailed = true;
                    break;
                }
                done += static_cast<std::size_t>(n);
            }
            run.sent.append(step.send, 0, done);
        }
        if (step.release && fd >= 0) {
            closeOrderly(fd);
            fd = -1;
        }
        run.messages += step.message;
        run.finished = run.finished || step.finished;
        return !writeFailed;
    };

    const mail::SmtpStart start = conversation.start(request);
    if (!start.connect) {
        run.refused = true;
        run.messages = start.message;
        return run;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int lookup = ::getaddrinfo(start.host.c_str(), std::to_string(start.port).c_str(), &hints, &found);
    if (lookup != 0) {
        apply(conversation.connectFailed(::gai_strerror(lookup)));
        return run;
    }
    int connectError = 0;
    for (addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0)
            continue;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            connectError = errno;
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    if (fd < 0) {
        apply(conversation.connectFailed(std::strerror(connectError)));
        return run;
    }
    // Commands go one at a time and wait for their reply: no reason to hold small writes back.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    std::string buffer(mail::kReceiveBufferSize, '\0');
    while (conversation.running() && fd >= 0) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, silenceMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0) {
            apply(conversation.timedOut());
            break;
        }
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            apply(conversation.connectionClosed());
            break;
        }
        if (!apply(conversation.feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)))))
            apply(conversation.connectionClosed());
    }
    if (fd >= 0)
        ::close(fd);
    return run;
}

} // namespace orvalink::test
