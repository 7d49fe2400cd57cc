// Mail passwords in the desktop keyring: a gnome-keyring-daemon unlocked by the test on a private
// session bus (dbus-run-session), read back with secret-tool; without a keyring the settings store
// keeps them as before.

#include "mail/PasswordKeyring.h"

#include "mail/MailAccountStore.h"
#include "platform/Profile.h"
#include "support/TestFiles.h"

#include <csignal>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace orvalink::mail {

using test::ScopedEnv;
using test::TempDir;

namespace {

// dbus-run-session with gnome-keyring-daemon (secrets only) unlocked with a password on stdin, in
// a home of its own; the bus address is written to a file. Ends with its process group.
class PrivateKeyring {
public:
    PrivateKeyring()
    {
        const std::string script =
            "printf keyring-pw | gnome-keyring-daemon --foreground --unlock --components=secrets "
            ">/dev/null 2>&1 & echo \"$DBUS_SESSION_BUS_ADDRESS\" > " +
            m_dir.file("bus") + "; wait";
        std::vector<std::string> args{"/usr/bin/dbus-run-session", "--", "/bin/sh", "-c", script};
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> env{"HOME=" + m_dir.path(), "XDG_DATA_HOME=" + m_dir.file("data"),
                                     "XDG_RUNTIME_DIR=" + m_dir.path(), "PATH=/usr/bin:/bin"};
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attr, 0);
        if (posix_spawn(&m_pid, argv[0], nullptr, &attr, argv.data(), envp.data()) != 0)
            m_pid = -1;
        posix_spawnattr_destroy(&attr);
    }
    ~PrivateKeyring()
    {
        if (m_pid > 0) {
            ::kill(-m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    // The bus address once the keyring answers, else empty.
    std::string address() const
    {
        std::string bus;
        test::waitUntil(
            [&] {
                bus = test::readFile(m_dir.file("bus"));
                return bus.size() > 1;
            },
            15000, 50);
        while (!bus.empty() && bus.back() == '\n')
            bus.pop_back();
        return bus;
    }
    // secret-tool's answer for one item.
    std::string secretTool(const std::string& server, const std::string& user) const
    {
        const std::string command = "DBUS_SESSION_BUS_ADDRESS='" + address() +
                                    "' secret-tool lookup kind pop server '" + server + "' user '" + user + "' 2>&1";
        std::string out;
        if (FILE* p = ::popen(command.c_str(), "r")) {
            char buf[256];
            for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
                out.append(buf, n);
            ::pclose(p);
        }
        return out;
    }

private:
    TempDir m_dir{"orvalink-keyring"};
    pid_t m_pid = -1;
};

bool keyringToolsThere(std::string* why)
{
    for (const char* tool : {"/usr/bin/dbus-run-session", "/usr/bin/gnome-keyring-daemon", "/usr/bin/secret-tool"})
        if (::access(tool, X_OK) != 0) {
            *why = std::string(tool) + " is missing (./scripts/test installs it)";
            return false;
        }
    return true;
}

MailAccount account(const std::string& password)
{
    return {"会社", "pop.example.test", "110", "taro", password, "smtp.example.test", "25", "taro@example.test"};
}

} // namespace

TEST(PasswordKeyring, ASavedPasswordLivesInTheKeyringNotInTheProfile)
{
    std::string why;
    if (!keyringToolsThere(&why))
        GTEST_SKIP() << why;
    PrivateKeyring daemon;
    const std::string bus = daemon.address();
    ASSERT_FALSE(bus.empty()) << "the private keyring did not start";
    ScopedEnv session("DBUS_SESSION_BUS_ADDRESS", bus);
    std::unique_ptr<PasswordKeyring> keyring;
    ASSERT_TRUE(test::waitUntil([&] { return (keyring = PasswordKeyring::open()) != nullptr; }, 10000, 100));

    TempDir dir;
    const std::string file = dir.file("Orvalink.conf");
    platform::Profile profile(file);
    // A password from before the keyring, in clear text.
    MailAccountStore plain(profile);
    plain.setCount(1);
    plain.write(1, account("old-secret"));
    ASSERT_NE(test::readFile(file).find("old-secret"), std::string::npos);

    MailAccountStore store(profile);
    store.setKeyring(keyring.get());
    EXPECT_EQ(store.read(1).popPassword, "old-secret") << "read from the profile until saved";
    store.write(1, store.read(1));
    EXPECT_EQ(test::readFile(file).find("old-secret"), std::string::npos) << "moved out by the first save";
    EXPECT_EQ(daemon.secretTool("pop.example.test", "taro"), "old-secret");
    EXPECT_EQ(store.read(1).popPassword, "old-secret");
    EXPECT_EQ(profile.getString(MailAccountStore::kSection, "POP Password1"), "");

    store.write(1, account("新しい暗号"));
    EXPECT_EQ(store.read(1).popPassword, "新しい暗号") << "bytes kept as they are";
    EXPECT_EQ(test::readFile(file).find("新しい暗号"), std::string::npos);
    EXPECT_EQ(keyring->lookup(PasswordKeyring::Kind::Smtp, "pop.example.test", "taro"), std::nullopt)
        << "POP and SMTP passwords are apart";

    store.write(1, account(""));
    EXPECT_EQ(store.read(1).popPassword, "") << "a cleared password leaves the keyring too";
    EXPECT_EQ(keyring->lookup(PasswordKeyring::Kind::Pop, "pop.example.test", "taro"), std::nullopt);
}

TEST(PasswordKeyring, WithoutAKeyringTheProfileKeepsThePassword)
{
    {
        ScopedEnv noBus("DBUS_SESSION_BUS_ADDRESS", "");
        EXPECT_EQ(PasswordKeyring::open(), nullptr) << "no session bus: no keyring, and none is started";
    }
    TempDir dir;
    platform::Profile profile(dir.file("Orvalink.conf"));
    MailAccountStore store(profile);
    store.setKeyring(nullptr);
    store.setCount(1);
    store.write(1, account("clear"));
    EXPECT_EQ(profile.getString(MailAccountStore::kSection, "POP Password1"), "clear");
    EXPECT_EQ(store.read(1).popPassword, "clear");
}

} // namespace orvalink::mail
