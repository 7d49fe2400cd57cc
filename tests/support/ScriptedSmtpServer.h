#pragma once

// A scripted SMTP server on a TCP port, for the faults a real server does not make on request:
// every accepted connection plays the same script of steps on a thread of its own, and everything
// the client wrote is kept for the test. Start it only inside a private network namespace.
//
//   auto server = ScriptedSmtpServer::lockstep({"220-a\r\n", "220 b\r\n"}, {"250 hi\r\n", ...});
//
// Steps: Say (write bytes, as one write), ReadLine (read up to and including LF), ReadData (read up
// to and including CR LF "." CR LF), Silence (read and answer nothing until the client closes),
// Close (close the connection at once).

#include <arpa/inet.h>
#include <atomic>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace orvalink::test {

class ScriptedSmtpServer {
public:
    struct Step {
        enum Kind { Say, ReadLine, ReadData, Silence, Close } kind;
        std::string bytes;
    };

    static Step say(std::string bytes) { return {Step::Say, std::move(bytes)}; }
    static Step readLine() { return {Step::ReadLine, {}}; }
    static Step readData() { return {Step::ReadData, {}}; }
    static Step silence() { return {Step::Silence, {}}; }
    static Step close() { return {Step::Close, {}}; }

    // A greeting in one or more writes, then one reply per command (after "354" the next read
    // takes the whole message), then `ending` (Close by default; the client's QUIT is read first
    // when the replies run out normally).
    static std::vector<Step> lockstep(const std::vector<std::string>& greeting, const std::vector<std::string>& replies,
                                      Step ending = close())
    {
        std::vector<Step> steps;
        for (const std::string& g : greeting)
            steps.push_back(say(g));
        bool data = false;
        for (const std::string& r : replies) {
            steps.push_back(data ? readData() : readLine());
            steps.push_back(say(r));
            data = r.starts_with("354");
        }
        if (ending.kind == Step::Close)
            steps.push_back(readLine());
        steps.push_back(std::move(ending));
        return steps;
    }

    ScriptedSmtpServer(std::vector<Step> script, int port = 25, const char* address = "127.0.0.1")
        : m_script(std::move(script))
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        ::inet_pton(AF_INET, address, &a.sin_addr);
        m_ready = m_listen >= 0 && ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                  ::listen(m_listen, 16) == 0 && ::pipe2(m_wake, O_CLOEXEC) == 0;
        if (m_ready)
            m_acceptor = std::thread([this] { acceptLoop(); });
    }

    ~ScriptedSmtpServer()
    {
        m_stopping = true;
        if (m_ready)
            (void)!::write(m_wake[1], "x", 1);
        if (m_acceptor.joinable())
            m_acceptor.join();
        for (std::thread& t : m_sessions)
            t.join();
        if (m_listen >= 0)
            ::close(m_listen);
        if (m_ready) {
            ::close(m_wake[0]);
            ::close(m_wake[1]);
        }
    }
    ScriptedSmtpServer(const ScriptedSmtpServer&) = delete;
    ScriptedSmtpServer& operator=(const ScriptedSmtpServer&) = delete;

    bool ready() const { return m_ready; }

    // What each connection's client wrote, in connection order.
    std::vector<std::string> received() const
    {
        std::lock_guard lock(m_mutex);
        return m_received;
    }
    // Connections whose script has run to its end (the client closed or the script closed).
    int finishedSessions() const { return m_finished.load(); }

private:
    void acceptLoop()
    {
        while (!m_stopping) {
            pollfd p[2] = {{m_listen, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
            if (::poll(p, 2, -1) <= 0 || (p[1].revents & POLLIN) != 0)
                continue;
            const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            std::size_t index;
            {
                std::lock_guard lock(m_mutex);
                index = m_received.size();
                m_received.emplace_back();
            }
            m_sessions.emplace_back([this, fd, index] { session(fd, index); });
        }
    }

    // Reads once (or returns false when the client closed or the server stops).
    bool readSome(int fd, std::size_t index, std::string& pending)
    {
        while (!m_stopping) {
            pollfd p[2] = {{fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
            if (::poll(p, 2, -1) <= 0)
                continue;
            if ((p[1].revents & POLLIN) != 0)
                return false;
            char buf[4096];
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return false;
            pending.append(buf, static_cast<std::size_t>(n));
            std::lock_guard lock(m_mutex);
            m_received[index].append(buf, static_cast<std::size_t>(n));
            return true;
        }
        return false;
    }

    void session(int fd, std::size_t index)
    {
        std::string pending;
        for (const Step& step : m_script) {
            bool go = true;
            switch (step.kind) {
            case Step::Say:
                go = ::send(fd, step.bytes.data(), step.bytes.size(), MSG_NOSIGNAL) ==
                     static_cast<ssize_t>(step.bytes.size());
                break;
            case Step::ReadLine:
            case Step::ReadData: {
                const std::string end = step.kind == Step::ReadLine ? "\n" : "\r\n.\r\n";
                std::size_t at;
                while ((at = pending.find(end)) == std::string::npos && go)
                    go = readSome(fd, index, pending);
                if (go)
                    pending.erase(0, at + end.size());
                break;
            }
            case Step::Silence:
                while (readSome(fd, index, pending)) {
                }
                go = false;
                break;
            case Step::Close:
                go = false;
                break;
            }
            if (!go)
                break;
        }
        ::close(fd);
        ++m_finished;
    }

    std::vector<Step> m_script;
    int m_listen = -1;
    int m_wake[2] = {-1, -1};
    bool m_ready = false;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_finished{0};
    std::thread m_acceptor;
    std::vector<std::thread> m_sessions; // touched by the acceptor only, then joined after it
    mutable std::mutex m_mutex;
    std::vector<std::string> m_received;
};

} // namespace orvalink::test
