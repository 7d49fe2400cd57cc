#include "support/MailServers.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace orvalink::test {

namespace {

bool writeText(const std::string& path, const std::string& text, mode_t mode)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::fchmod(fd, mode);
    return ::close(fd) == 0 && ok;
}

std::string dovecotProgram()
{
    for (const char* candidate : {"/usr/sbin/dovecot", "/usr/local/sbin/dovecot"})
        if (::access(candidate, X_OK) == 0)
            return candidate;
    return {};
}

// Reads a greeting line from a fresh connection: "+OK" within the time given.
bool greets(const std::string& address, int port, int timeoutMs)
{
    const int fd = connectTcp(address, port);
    if (fd < 0)
        return false;
    std::string reply;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (reply.find('\n') == std::string::npos && std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        char buffer[512];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        reply.append(buffer, static_cast<std::size_t>(n));
    }
    if (reply.rfind("+OK", 0) == 0) {
        const char quit[] = "QUIT\r\n";
        [[maybe_unused]] const ssize_t sent = ::write(fd, quit, sizeof quit - 1);
    }
    ::close(fd);
    return reply.rfind("+OK", 0) == 0;
}

} // namespace

int connectTcp(const std::string& address, int port)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::inet_pton(AF_INET, address.c_str(), &to.sin_addr) != 1)
        return -1;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

DovecotPop3::DovecotPop3(std::string address, int port, std::string user, std::string password)
    : m_address(std::move(address)), m_port(port), m_user(std::move(user)), m_password(std::move(password))
{
}

DovecotPop3::~DovecotPop3()
{
    stop();
    if (!m_folder.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_folder, ec);
    }
}

std::string DovecotPop3::log() const
{
    return m_folder + "/dovecot.log";
}

bool DovecotPop3::start()
{
    const std::string program = dovecotProgram();
    if (program.empty()) {
        m_failure = "dovecot is not installed (Debian package dovecot-pop3d)";
        return false;
    }
    if (::geteuid() != 0) {
        m_failure = "dovecot's master needs root";
        return false;
    }
    const passwd* nobody = ::getpwnam("nobody");
    const group* nogroup = ::getgrnam("nogroup");
    if (!nobody || !nogroup) {
        m_failure = "no user nobody or group nogroup";
        return false;
    }
    if (m_folder.empty()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "orvalink-dovecot-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            m_failure = "cannot make a scratch folder";
            return false;
        }
        m_folder = pattern;
    }
    // The mail processes run as nobody: they must reach the maildir through the scratch folder.
    ::chmod(m_folder.c_str(), 0755);
    m_maildir = m_folder + "/Maildir";
    for (const std::string& dir : {m_folder + "/run", m_folder + "/state", m_folder + "/home", m_maildir,
                                   m_maildir + "/new", m_maildir + "/cur", m_maildir + "/tmp"})
        ::mkdir(dir.c_str(), 0700);
    // dovecot wants its base folder readable by its unprivileged processes.
    ::chmod((m_folder + "/run").c_str(), 0755);
    for (const std::string& dir :
         {m_folder + "/home", m_maildir, m_maildir + "/new", m_maildir + "/cur", m_maildir + "/tmp"})
        if (::chown(dir.c_str(), nobody->pw_uid, nogroup->gr_gid) != 0) {
            // In the user namespace of a user without root only that user exists: nobody has no
            // uid there (EINVAL), and dovecot cannot drop to it.
            m_failure = errno == EINVAL ? "dovecot needs real root: the user namespace of a user without root has "
                                          "no user nobody to hand the maildir to"
                                        : "cannot hand the maildir to nobody: " + std::string(std::strerror(errno));
            return false;
        }

    const std::string f = m_folder;
    const std::string conf =
        "protocols = pop3\n"
        "listen = " +
        m_address +
        "\n"
        "base_dir = " +
        f +
        "/run\n"
        "state_dir = " +
        f +
        "/state\n"
        "log_path = " +
        f + "/dovecot.log\n" +
        (m_tlsCertificate.empty() ? std::string("ssl = no\n")
                                  : "ssl = yes\nssl_cert = <" + m_tlsCertificate + "\nssl_key = <" + m_tlsKey +
                                        "\nssl_min_protocol = TLSv1.2\n") +
        std::string("disable_plaintext_auth = no\n"
                    "auth_mechanisms = plain\n"
                    "default_internal_user = nobody\n"
                    "default_internal_group = nogroup\n"
                    "default_login_user = nobody\n"
                    "first_valid_uid = 1\n"
                    "first_valid_gid = 1\n"
                    "mail_location = maildir:") +
        m_maildir +
        "\n"
        "pop3_uidl_format = %08Xu%08Xv\n"
        "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN username_format=%u " +
        f +
        "/passwd\n}\n"
        "userdb {\n  driver = static\n  args = uid=nobody gid=nogroup home=" +
        f +
        "/home\n}\n"
        "service pop3-login {\n  inet_listener pop3 {\n    port = " +
        std::to_string(m_port) + "\n  }\n" +
        (m_implicitPort
             ? "  inet_listener pop3s {\n    port = " + std::to_string(m_implicitPort) + "\n    ssl = yes\n  }\n"
             : std::string()) +
        "}\n"
        "service anvil {\n  chroot =\n}\n";
    if (!writeText(f + "/dovecot.conf", conf, 0644) ||
        !writeText(f + "/passwd", m_user + ":{PLAIN}" + m_password + "\n", 0644)) {
        m_failure = "cannot write the configuration";
        return false;
    }

    const pid_t pid = ::fork();
    if (pid < 0) {
        m_failure = "fork failed";
        return false;
    }
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_RDWR);
        if (devnull >= 0) {
            ::dup2(devnull, 0);
            ::dup2(devnull, 1);
        }
        const std::string confPath = f + "/dovecot.conf";
        ::execl(program.c_str(), program.c_str(), "-c", confPath.c_str(), "-F", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    m_pid = pid;

    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < end) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            m_failure = "dovecot ended at start; see " + log();
            return false;
        }
        if (greets(m_address, m_port, 1000))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    m_failure = "dovecot did not greet within 20 s; see " + log();
    stop();
    return false;
}

void DovecotPop3::stop()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (::waitpid(m_pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= end) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    m_pid = -1;
}

std::string DovecotPop3::addMessage(std::string_view bytes)
{
    if (m_maildir.empty())
        throw std::runtime_error("addMessage before start");
    // Maildir names sort by their leading time; the running number keeps the order of adding.
    ++m_added;
    char name[64];
    std::snprintf(name, sizeof name, "%010d.M%06dP%d.orvalink", 1700000000 + m_added, m_added,
                  static_cast<int>(::getpid()));
    const std::string tmp = m_maildir + "/tmp/" + name;
    const std::string path = m_maildir + "/new/" + name;
    if (!writeText(tmp, std::string(bytes), 0600) || ::rename(tmp.c_str(), path.c_str()) != 0)
        throw std::runtime_error("cannot add a message to " + m_maildir);
    const passwd* nobody = ::getpwnam("nobody");
    const group* nogroup = ::getgrnam("nogroup");
    if (nobody && nogroup && ::chown(path.c_str(), nobody->pw_uid, nogroup->gr_gid) != 0)
        throw std::runtime_error("cannot hand a message to nobody");
    return path;
}

} // namespace orvalink::test
