// The program on the desktop: a second start brings the running window forward, and messages are
// notified through a notification service on a private session bus (a stand-in the test starts
// under dbus-run-session, recording every call).

#include "app/ProgramOnLan.h"
#include "chat/wire/ChatDatagram.h"
#include "platform/text/ByteEscape.h"
#include "platform/text/Cp932.h"

#include <chrono>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace orvalink::app {

namespace {

// A private session bus on a socket file (reachable from the hosts' network namespaces, unlike
// an abstract socket) with the recording notification service on it.
class NotificationBus {
public:
    explicit NotificationBus(const fs::path& dir) : m_dir(dir)
    {
        const fs::path conf = dir / "bus.conf";
        std::ofstream(conf) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                               "<busconfig><type>session</type><listen>unix:path="
                            << (dir / "bus").string()
                            << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                               "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                               "<allow own=\"*\"/></policy></busconfig>\n";
        const std::string service = std::string(ORVALINK_SOURCE_DIR_DEFAULT) + "/tests/app/notification-service.py";
        std::vector<std::string> args{"/usr/bin/dbus-run-session",
                                      "--config-file=" + conf.string(),
                                      "--",
                                      "/usr/bin/python3",
                                      service,
                                      dir.string()};
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        // Its own process group: the bus daemon and the service end with it.
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attr, 0);
        if (posix_spawn(&m_pid, argv[0], nullptr, &attr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawnattr_destroy(&attr);
    }
    ~NotificationBus()
    {
        if (m_pid > 0) {
            ::kill(-m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    bool ready() const
    {
        return m_pid > 0 && waitUntil([&] { return fs::exists(m_dir / "ready"); }, 15000);
    }
    std::string address() const { return "unix:path=" + (m_dir / "bus").string(); }
    // The recorded Notify calls, one JSON object a line.
    std::vector<std::string> calls() const { return lines(readFile(m_dir / "notify.log")); }
    void invoke(const std::string& id) const { std::ofstream(m_dir / "invoke") << id << "\n"; }

private:
    fs::path m_dir;
    pid_t m_pid = -1;
};

// The value of a string or number field in one of the service's JSON lines.
std::string field(const std::string& json, const std::string& name)
{
    const std::string key = "\"" + name + "\": ";
    std::size_t at = json.find(key);
    if (at == std::string::npos)
        return {};
    at += key.size();
    if (json[at] != '"')
        return json.substr(at, json.find_first_of(",}", at) - at);
    std::string value;
    for (std::size_t i = at + 1; i < json.size() && json[i] != '"'; ++i)
        value += json[i] == '\\' ? json[++i] : json[i];
    return value;
}

bool toolsThere(std::string* why)
{
    for (const char* tool : {"/usr/bin/dbus-run-session", "/usr/bin/dbus-daemon", "/usr/bin/python3"})
        if (::access(tool, X_OK) != 0)
            return !(*why = std::string(tool) + " is missing").empty() && false;
    if (std::system("/usr/bin/python3 -c 'import dbus, gi' 2>/dev/null") != 0)
        return !(*why = "python3-dbus or python3-gi is missing").empty() && false;
    return true;
}

class DesktopOnLan : public ChatLanTest {
protected:
    // Host 1 runs the program on the private bus; host 2 is a raw peer named "peer2".
    void startWithBus()
    {
        std::string why;
        if (!tools::SimulatedLan::available(&why))
            GTEST_SKIP() << "needs a simulated LAN: " << why;
        if (!toolsThere(&why))
            GTEST_SKIP() << why;
        bus = std::make_unique<NotificationBus>(folder.root());
        ASSERT_TRUE(bus->ready()) << "the notification service did not start";
        extraEnv = {{"DBUS_SESSION_BUS_ADDRESS", bus->address()}};
        startHosts(2);
        ::kill(hosts[1].pid, SIGTERM); // host 2 only sends raw datagrams
        lan->waitExit(hosts[1].pid, 10000);
        ASSERT_TRUE(hosts[0].dumpHas({"member 0 " + key(1)})) << "host 1 listens";
    }
    void sendFrom2(const std::string& datagram)
    {
        std::string out;
        ASSERT_EQ(lan->run(2,
                           {udpPeerPath(), "send", "--from-port", "12121", "--to", "255.255.255.255", "--port", "12121",
                            "--broadcast", platform::escapeBytes(datagram)},
                           &out, 10000),
                  0)
            << out;
    }
    std::unique_ptr<NotificationBus> bus;
};

} // namespace

TEST_F(DesktopOnLan, ASecondStartShowsTheRunningWindowAndStillSaysWhyItEnds)
{
    startHosts(1);
    if (hosts.empty())
        return;
    const DrivenHost& h = hosts[0];
    ASSERT_TRUE(h.dumpHas({"member 0 " + key(1)}));
    ASSERT_TRUE(h.command("hide"));
    ASSERT_TRUE(waitUntil([&] {
        return h.waitForLine([](const std::string& l) { return l.rfind("toplevel CMainFrame", 0) == 0; }, 200).empty();
    }));

    auto second = programOn(h.dir);
    second.stdoutPath = (h.dir / "second.out").string();
    second.stderrPath = (h.dir / "second.err").string();
    const pid_t again = lan->start(1, second);
    int status = -1;
    ASSERT_TRUE(lan->waitExit(again, 15000, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(readFile(h.dir / "messageboxes.log"), "メッセージ\t２重起動は出来ません\n");
    EXPECT_FALSE(h.waitForLine([](const std::string& l) { return l.rfind("toplevel CMainFrame", 0) == 0; }).empty())
        << "the running instance shows its window";
}

TEST_F(DesktopOnLan, APersonalMessageGivesOneNotificationNamingTheSender)
{
    startWithBus();
    if (hosts.empty())
        return;
    const DrivenHost& h = hosts[0];
    sendFrom2(chat::buildPersonalMessage("peer2", platform::utf8ToCp932("会議は三時から")));
    ASSERT_TRUE(waitUntil([&] { return !bus->calls().empty(); }, 15000)) << "no notification";
    const std::string shown = platform::escapeBytes(platform::utf8ToCp932("会議は三時から"));
    ASSERT_FALSE(h.waitForLine([&](const std::string& l) { return l.find(shown) != std::string::npos; }).empty());
    // Nothing more comes for the one message.
    std::this_thread::sleep_for(std::chrono::milliseconds(3 * 300));
    const auto calls = bus->calls();
    ASSERT_EQ(calls.size(), 1u) << joinLines(calls);
    EXPECT_EQ(field(calls[0], "replaces_id"), "0");
    EXPECT_EQ(field(calls[0], "app_name"), "Orvalink");
    EXPECT_EQ(field(calls[0], "summary"), "peer2 (G) 個人宛");
    EXPECT_EQ(field(calls[0], "body"), "会議は三時から");
    EXPECT_NE(calls[0].find("\"default\""), std::string::npos) << "clicking it is its default action";
}

TEST_F(DesktopOnLan, ABurstWhileHiddenGivesOneCountingNotificationWhoseActionShowsTheRow)
{
    startWithBus();
    if (hosts.empty())
        return;
    const DrivenHost& h = hosts[0];
    ASSERT_TRUE(h.command("hide"));
    ASSERT_TRUE(waitUntil([&] {
        return h.waitForLine([](const std::string& l) { return l.rfind("toplevel CMainFrame", 0) == 0; }, 200).empty();
    }));
    // 50 group messages from one process on host 2, as fast as it can send them.
    std::string script;
    for (int i = 1; i <= 50; ++i)
        script += udpPeerPath() + " send --from-port 12121 --to 255.255.255.255 --port 12121 --broadcast '" +
                  platform::escapeBytes(chat::buildGroupMessage("peer2", "burst " + std::to_string(i))) +
                  "' || exit 1\n";
    std::string out;
    ASSERT_EQ(lan->run(2, {"/bin/sh", "-c", script}, &out, 60000), 0) << out;
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto calls = bus->calls();
            return !calls.empty() && field(calls.back(), "summary") == "新しいメッセージ 50 件";
        },
        15000))
        << joinLines(bus->calls());
    std::this_thread::sleep_for(std::chrono::milliseconds(3 * 300));
    const auto calls = bus->calls();
    const std::string id = field(calls.front(), "id");
    for (const auto& c : calls)
        EXPECT_EQ(field(c, "id"), id) << "one notification, replaced as the count grows: " << c;
    EXPECT_LT(calls.size(), 50u);
    EXPECT_EQ(field(calls.back(), "body"), "最新: peer2 (G) burst 50");

    // Its action shows the window with the newest message selected.
    bus->invoke(id);
    ASSERT_FALSE(h.waitForLine([](const std::string& l) { return l.rfind("toplevel CMainFrame", 0) == 0; }).empty());
    std::vector<std::string> dump;
    int newest = -1;
    ASSERT_TRUE(waitUntil([&] {
        dump = h.dump();
        int row = 0; // the list shows the group's rows in their order
        for (const auto& l : dump)
            if (l.rfind("row 0 ", 0) == 0 && ++row && l.find("|burst 50|") != std::string::npos)
                newest = row - 1;
        return std::find(dump.begin(), dump.end(), "selected " + std::to_string(newest)) != dump.end();
    })) << joinLines(dump);
    EXPECT_EQ(
        std::count_if(dump.begin(), dump.end(), [](const std::string& l) { return l.rfind("selected ", 0) == 0; }), 1);
}

} // namespace orvalink::app
