#pragma once

// A scripted POP3 server for the receive window's tests: it listens on the private network's
// address, takes connections one after another and runs one script per connection on its own
// thread. A script answers command lines with whatever bytes the test wants, split as it wants,
// so faults a real server never shows (a reply one byte per write, several replies in one write,
// a dropped connection, silence) can be made on purpose. Every wait is bounded: a script that
// does not get what it expects gives up, so no test can hang on it.

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace orvalink::mail {

class ScriptedPop3Server {
public:
    class Peer {
    public:
        Peer(int fd, ScriptedPop3Server& server) : m_fd(fd), m_server(server) {}

        // One write of the bytes (one segment: Nagle is off).
        void send(std::string_view bytes)
        {
            while (!bytes.empty()) {
                const ssize_t n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
                if (n <= 0)
                    return;
                bytes.remove_prefix(static_cast<std::size_t>(n));
            }
        }
        // The bytes in writes of `piece` bytes, each waiting a moment so that the client's reads
        // see them apart.
        void sendInPieces(std::string_view bytes, std::size_t piece)
        {
            for (std::size_t at = 0; at < bytes.size(); at += piece) {
                send(bytes.substr(at, piece));
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
        // The next command line from the client without its CR LF (also recorded); nullopt when
        // the client closed or nothing came within the time.
        std::optional<std::string> line(int timeoutMs = 10000)
        {
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
            for (;;) {
                if (const auto crlf = m_in.find("\r\n"); crlf != std::string::npos) {
                    std::string l = m_in.substr(0, crlf);
                    m_in.erase(0, crlf + 2);
                    m_server.record(l);
                    return l;
                }
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
                pollfd p{m_fd, POLLIN, 0};
                if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                    return std::nullopt;
                char buf[4096];
                const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
                if (n <= 0)
                    return std::nullopt;
                m_in.append(buf, static_cast<std::size_t>(n));
            }
        }
        // Waits for a command and answers it; false when another command (or none) came.
        bool expect(std::string_view command, std::string_view reply)
        {
            const auto l = line();
            if (!l || *l != command)
                return false;
            send(reply);
            return true;
        }
        // True when the client closed the connection within the time.
        bool waitForClose(int timeoutMs = 10000)
        {
            while (line(timeoutMs))
                ;
            pollfd p{m_fd, POLLIN, 0};
            char c;
            return ::poll(&p, 1, 0) > 0 && ::recv(m_fd, &c, 1, MSG_PEEK) == 0;
        }

    private:
        int m_fd;
        ScriptedPop3Server& m_server;
        std::string m_in;
    };
    using Script = std::function<void(Peer&)>;

    // One script per connection, in the order the connections come.
    ScriptedPop3Server(const std::string& address, std::vector<Script> scripts) : m_scripts(std::move(scripts))
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
        if (::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(m_listen, 4) != 0)
            return;
        socklen_t len = sizeof a;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~ScriptedPop3Server()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_listen);
    }

    int port() const { return m_port; }
    std::vector<std::string> commands() const
    {
        std::lock_guard lock(m_mutex);
        return m_commands;
    }
    int scriptsDone() const { return m_done.load(); }

private:
    void record(const std::string& l)
    {
        std::lock_guard lock(m_mutex);
        m_commands.push_back(l);
    }
    void serve()
    {
        for (Script& script : m_scripts) {
            int fd = -1;
            while (fd < 0 && !m_stop) {
                pollfd p{m_listen, POLLIN, 0};
                if (::poll(&p, 1, 50) > 0)
                    fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            }
            if (fd < 0)
                return;
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            Peer peer(fd, *this);
            script(peer);
            ::close(fd);
            ++m_done;
        }
    }

    std::vector<Script> m_scripts;
    int m_listen = -1;
    int m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_done{0};
    mutable std::mutex m_mutex;
    std::vector<std::string> m_commands;
};

} // namespace orvalink::mail
