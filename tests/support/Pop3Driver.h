#pragma once

// A blocking driver for the POP3 engine over a connected socket, for tests and benchmarks: what
// the receive window's glue does with notifications, done with poll(). Reads go to feed() as they
// come; what the engine answers is sent at once; silence of `silenceMs` counts as the engine's
// time-out (tests pass a short one instead of waiting a minute).

#include "mail/engine/Pop3Engine.h"

#include <cerrno>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace orvalink::test {

struct Pop3Run {
    std::string sent;                    // every byte the engine sent
    std::vector<mail::Pop3Event> events; // every event in order
    std::vector<std::string> errors;     // the texts of the Error events
};

inline void sendAll(int fd, std::string_view rest)
{
    while (!rest.empty()) {
        const ssize_t n = ::send(fd, rest.data(), rest.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
}

inline void applyPop3Step(int fd, const mail::Pop3Step& step, Pop3Run& run)
{
    sendAll(fd, step.send);
    run.sent += step.send;
    for (const mail::Pop3Event& e : step.events) {
        run.events.push_back(e);
        if (e.kind == mail::Pop3Event::Kind::Error)
            run.errors.push_back(e.text);
    }
}

// Runs the conversation on `fd` until the engine is finished; closes fd.
inline Pop3Run drivePop3(int fd, mail::Pop3Engine& engine, int silenceMs = 60000, std::size_t readSize = 65536)
{
    Pop3Run run;
    engine.setSendNow([fd, &run](const std::string& bytes) {
        sendAll(fd, bytes);
        run.sent += bytes;
    });
    std::vector<char> buffer(readSize);
    while (engine.waitingForServer()) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, silenceMs);
        if (ready < 0 && errno == EINTR)
            continue;
        mail::Pop3Step step;
        if (ready == 0) {
            step = engine.timedOut();
        } else {
            const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (n < 0 && errno == EINTR)
                continue;
            step = n > 0 ? engine.feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)))
                         : engine.connectionClosed();
        }
        applyPop3Step(fd, step, run);
        if (step.disconnect)
            break;
    }
    engine.setSendNow({});
    ::close(fd);
    return run;
}

} // namespace orvalink::test
