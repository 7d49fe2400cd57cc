#pragma once

// A scripted mail server for the socket tests: it listens on loopback of the test's private
// network, takes one connection and runs the test's script on it in a thread of its own, keeping
// every byte the client wrote. Every wait is bounded, so a script never hangs a test.

#include <arpa/inet.h>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace mailtest {

class ScriptedConnection {
public:
    explicit ScriptedConnection(int fd) : m_fd(fd) {}

    // Everything up to and including the next CR LF; empty when the client closed or went silent.
    std::string line() { return until("\r\n"); }
    // Everything up to and including the next occurrence of end.
    std::string until(std::string_view end)
    {
        for (;;) {
            if (const std::size_t at = m_pending.find(end); at != std::string::npos) {
                std::string out = m_pending.substr(0, at + end.size());
                m_pending.erase(0, at + end.size());
                return out;
            }
            if (!readMore())
                return {};
        }
    }
    void send(std::string_view bytes)
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            done += static_cast<std::size_t>(n);
        }
    }
    // Sends each byte on its own, a short pause between them so the client reads them apart.
    void sendBytewise(std::string_view bytes)
    {
        for (char c : bytes) {
            send(std::string_view(&c, 1));
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    // True when the client closes the connection within timeoutMs (whatever it wrote first is kept).
    bool closedByClient(int timeoutMs = 5000)
    {
        while (readMore(timeoutMs)) {
        }
        return m_eof;
    }
    // Everything the client wrote so far.
    std::string received() const
    {
        std::lock_guard lock(m_mutex);
        return m_all;
    }

private:
    bool readMore(int timeoutMs = 10000)
    {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return false;
        char buf[65536];
        const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
        if (n <= 0) {
            m_eof = true;
            return false;
        }
        m_pending.append(buf, static_cast<std::size_t>(n));
        std::lock_guard lock(m_mutex);
        m_all.append(buf, static_cast<std::size_t>(n));
        return true;
    }

    int m_fd;
    std::string m_pending;
    bool m_eof = false;
    mutable std::mutex m_mutex;
    std::string m_all;
};

class ScriptedSmtpServer {
public:
    using Script = std::function<void(ScriptedConnection&)>;

    // port 0: any free port.
    explicit ScriptedSmtpServer(Script script, std::uint16_t port = 0) : m_script(std::move(script))
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        // One fixed port serves several tests in a row; the last connection may still linger.
        int on = 1;
        ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        socklen_t len = sizeof a;
        if (::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(m_listen, 4) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~ScriptedSmtpServer() { join(); }
    ScriptedSmtpServer(const ScriptedSmtpServer&) = delete;
    ScriptedSmtpServer& operator=(const ScriptedSmtpServer&) = delete;

    std::uint16_t port() const { return m_port; }
    // A loopback port nobody listens on: bound for a moment and let go again.
    static std::uint16_t unusedPort()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        ::close(fd);
        return ntohs(a.sin_port);
    }
    // Waits until the script has run (or no client came within the accept limit).
    void join()
    {
        if (m_thread.joinable())
            m_thread.join();
        if (m_listen >= 0)
            ::close(m_listen);
        m_listen = -1;
    }
    bool done() const { return m_done.load(); }
    std::string received() const
    {
        std::lock_guard lock(m_mutex);
        return m_received;
    }

private:
    void serve()
    {
        pollfd p{m_listen, POLLIN, 0};
        if (::poll(&p, 1, 15000) > 0) {
            const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                ScriptedConnection connection(fd);
                m_script(connection);
                {
                    std::lock_guard lock(m_mutex);
                    m_received = connection.received();
                }
                ::close(fd);
            }
        }
        m_done.store(true);
    }

    Script m_script;
    int m_listen = -1;
    std::uint16_t m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_done{false};
    mutable std::mutex m_mutex;
    std::string m_received;
};

} // namespace mailtest
