#pragma once

// Real mail servers for tests, started by the test and ended by pid. Only for tests inside a
// private network namespace (NETNS tests): the server listens there and nowhere else.
//
//   DovecotPop3 pop3(kPrivateHostAddress);           // port 110, user "taro", password "secret"
//   ASSERT_TRUE(pop3.start()) << pop3.failure();
//   pop3.addMessage("From: a@example.jp\r\n...");    // appears in the user's maildir
//   ... connect to pop3.address():pop3.port() ...
//
// dovecot runs in the foreground (`dovecot -c conf -F`) with a throw-away configuration in a
// scratch folder: a passwd-file user, a maildir owned by `nobody`, base and state folders in the
// scratch folder, no system service and no file outside the scratch folder touched.

#include <string>
#include <string_view>
#include <sys/types.h>

namespace orvalink::test {

class DovecotPop3 {
public:
    explicit DovecotPop3(std::string address = "127.0.0.1", int port = 110, std::string user = "taro",
                         std::string password = "secret");
    ~DovecotPop3(); // stops the server
    DovecotPop3(const DovecotPop3&) = delete;
    DovecotPop3& operator=(const DovecotPop3&) = delete;

    // Writes the configuration, starts dovecot and waits (at most 20 s) until it greets on the
    // port. False with failure() saying why (dovecot missing, not root, ...).
    bool start();
    // Before start(): TLS with this certificate (chain) and key (PEM files), STLS on the plain
    // port and TLS from the first byte on `implicitPort`.
    void enableTls(std::string certificateFile, std::string keyFile, int implicitPort = 995)
    {
        m_tlsCertificate = std::move(certificateFile);
        m_tlsKey = std::move(keyFile);
        m_implicitPort = implicitPort;
    }
    void stop();
    bool running() const { return m_pid > 0; }
    const std::string& failure() const { return m_failure; }

    // Puts one message into the maildir (a new file in new/, named so that messages keep the
    // order in which they were added). `bytes` should use CR LF or LF line ends; dovecot serves
    // them with CR LF. Returns the file's path.
    std::string addMessage(std::string_view bytes);

    const std::string& address() const { return m_address; }
    int port() const { return m_port; }
    const std::string& user() const { return m_user; }
    const std::string& password() const { return m_password; }
    // The scratch folder (config, maildir, logs); the log is log() inside it.
    const std::string& folder() const { return m_folder; }
    std::string log() const;

private:
    std::string m_address;
    int m_port;
    std::string m_user;
    std::string m_password;
    std::string m_folder;
    std::string m_maildir;
    std::string m_failure;
    pid_t m_pid = -1;
    std::string m_tlsCertificate;
    std::string m_tlsKey;
    int m_implicitPort = 0;
    int m_added = 0;
};

// Connects to address:port over TCP; -1 on failure. A blocking socket with no time-out.
int connectTcp(const std::string& address, int port);

} // namespace orvalink::test
