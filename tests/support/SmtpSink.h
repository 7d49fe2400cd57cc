#pragma once

// A real SMTP server for tests: aiosmtpd (tests/support/smtp_sink.py, run with Debian's
// /usr/bin/python3) keeping every mail it accepts, envelope and bytes, in a folder the test reads.
// Start it only inside a private network namespace (a NETNS test, or after enterPrivateNetwork()):
// it listens on every address of the namespace, port 25 by default. It is ended by its pid when
// the object goes.

#include "support/TestFiles.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace orvalink::test {

struct ReceivedMail {
    std::string helo;
    std::string mailFrom;
    std::vector<std::string> rcptTo;
    std::string content; // the message bytes after DATA, dot-stuffing removed
};

class SmtpSink {
public:
    static constexpr const char* kPython = "/usr/bin/python3";

    // The script is found under $ORVALINK_SOURCE_DIR unless a path is given.
    explicit SmtpSink(std::string folder, int port = 25, std::string host = "0.0.0.0", std::string script = {})
        : m_folder(std::move(folder))
    {
        if (script.empty()) {
            const char* source = std::getenv("ORVALINK_SOURCE_DIR");
            script = std::string(source ? source : ".") + "/tests/support/smtp_sink.py";
        }
        if (::access(kPython, X_OK) != 0) {
            m_failure = std::string(kPython) + " is not installed";
            return;
        }
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) {
            m_failure = "pipe failed";
            return;
        }
        const std::string portText = std::to_string(port);
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::execl(kPython, kPython, script.c_str(), m_folder.c_str(), "--host", host.c_str(), "--port",
                    portText.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        if (m_pid < 0) {
            ::close(out[0]);
            m_failure = "fork failed";
            return;
        }
        // Wait for "ready"; a generous bound only so that a broken set-up cannot hang the test.
        std::string said;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (said.find("ready\n") == std::string::npos) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            pollfd p{out[0], POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                break;
            char buf[256];
            const ssize_t n = ::read(out[0], buf, sizeof buf);
            if (n <= 0)
                break;
            said.append(buf, static_cast<std::size_t>(n));
        }
        ::close(out[0]);
        if (said.find("ready\n") == std::string::npos) {
            m_failure = "aiosmtpd did not start (python3-aiosmtpd missing, or port " + portText + " taken)";
            stop();
        }
    }

    ~SmtpSink() { stop(); }
    SmtpSink(const SmtpSink&) = delete;
    SmtpSink& operator=(const SmtpSink&) = delete;

    bool ready() const { return m_failure.empty() && m_pid > 0; }
    const std::string& failure() const { return m_failure; }
    pid_t pid() const { return m_pid; }
    const std::string& folder() const { return m_folder; }

    // Ends the server (SIGTERM to its pid, then waits for it).
    void stop()
    {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGTERM);
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
    }

    // Every complete mail so far, in the order received.
    std::vector<ReceivedMail> mails() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_folder)) {
            const std::string name = entry.path().filename().string();
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".env") == 0)
                names.push_back(name.substr(0, name.size() - 4));
        }
        std::sort(names.begin(), names.end());
        std::vector<ReceivedMail> result;
        for (const std::string& base : names) {
            ReceivedMail mail;
            std::istringstream envelope(readFile(m_folder + "/" + base + ".env"));
            for (std::string line; std::getline(envelope, line);) {
                const auto blank = line.find(' ');
                const std::string key = line.substr(0, blank);
                const std::string value = blank == std::string::npos ? std::string() : line.substr(blank + 1);
                if (key == "helo")
                    mail.helo = value;
                else if (key == "from")
                    mail.mailFrom = value;
                else if (key == "to")
                    mail.rcptTo.push_back(value);
            }
            mail.content = readFile(m_folder + "/" + base + ".eml");
            result.push_back(std::move(mail));
        }
        return result;
    }

    std::size_t mailCount() const
    {
        std::size_t count = 0;
        for (const auto& entry : std::filesystem::directory_iterator(m_folder))
            if (entry.path().extension() == ".env")
                ++count;
        return count;
    }

    // Waits until at least `count` mails are complete (a "never hangs" bound, not a timing).
    bool waitForMails(std::size_t count, int timeoutMs = 30000) const
    {
        return waitUntil([&] { return mailCount() >= count; }, timeoutMs);
    }

private:
    std::string m_folder;
    pid_t m_pid = -1;
    std::string m_failure;
};

} // namespace orvalink::test
