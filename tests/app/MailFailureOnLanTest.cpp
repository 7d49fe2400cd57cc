// The whole program receiving mail that cannot be had on the simulated LAN: the receive window must
// stay open and say why, and a hostile server must not make the program grow without bound.

#include "app/ProgramOnLan.h"
#include "platform/text/Cp932.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace orvalink::app {

namespace {

std::string escapedCp932(const char* utf8)
{
    return platform::escapeBytes(platform::utf8ToCp932(utf8));
}

bool anyLineStartsWith(const std::vector<std::string>& lines, const std::string& start)
{
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(start, 0) == 0; });
}

// The peak resident size of a process of ours, in KiB (VmHWM), or -1.
long peakKib(pid_t pid)
{
    for (const std::string& line : lines(readFile("/proc/" + std::to_string(pid) + "/status")))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

// One program on host 1 whose account 1 receives from a server in the same host namespace, and
// whose mail directory is whatever the test says.
class MailFailureOnLan : public ChatLanTest {
protected:
    static constexpr const char* kPort = "1110";
    // Host 1 of the simulated LAN.
    static constexpr const char* kServerAddress = "10.77.0.1";

    void configure(const fs::path& saveFolder)
    {
        platform::Profile p((folder.host(1) / "config/Orvalink/Orvalink.conf").string());
        p.writeString("Mail Entry", "SaveFolder", saveFolder.string());
        p.writeInt("Server Entry", "Count", 1);
        p.writeString("Server Entry", "Server Name1", "home");
        p.writeString("Server Entry", "POP PortNo1", kPort);
        p.writeString("Server Entry", "POP Accunt1", "taro");
        p.writeString("Server Entry", "POP Password1", "secret");
        p.writeString("Server Entry", "POP Server1", kServerAddress);
        startHosts(1);
    }

    // Starts a server program on host 1 that prints "ready" once it listens.
    bool startServer(std::vector<std::string> argv)
    {
        serverOut = folder.root() / "server.out";
        tools::SimulatedLan::Program server;
        server.argv = std::move(argv);
        server.stdoutPath = serverOut.string();
        server.stderrPath = (folder.root() / "server.err").string();
        if (lan->start(1, server) <= 0)
            return false;
        return waitUntil([&] { return !readFile(serverOut).empty(); }, 30000);
    }

    fs::path serverOut;
};

// The default case of a new user: no usable mail directory. Nothing can be filed, and the window
// says so instead of closing as after a good download.
TEST_F(MailFailureOnLan, MailDirectoryThatIsAFileKeepsTheWindowOpenWithEachMessageNamed)
{
    const fs::path notADirectory = folder.host(1) / "mail";
    orvalink::test::writeFile(notADirectory, "not a folder");
    configure(notADirectory);
    if (IsSkipped())
        return;
    LanPop3Server pop3;
    ORVALINK_START_POP3(pop3, *lan, 1, kServerAddress, kPort, folder.root());
    ASSERT_TRUE(pop3.add({"From: hanako@example.jp\r\nSubject: m1\r\n\r\nbody\r\n",
                          "From: hanako@example.jp\r\nSubject: m2\r\n\r\nbody\r\n"},
                         folder.root()));

    ASSERT_TRUE(hosts[0].command("command 32771"));
    std::vector<std::string> d;
    ASSERT_TRUE(
        hosts[0].dumpHas({"recvended 1", "recvwindow open", "recvrunning 0",
                          "recvstatus " + escapedCp932("メールを受信できませんでした。エラー情報をご覧ください。")},
                         &d))
        << joinLines(d);
    EXPECT_TRUE(anyLineStartsWith(d, "recverror " + escapedCp932("第1メール"))) << joinLines(d);
    EXPECT_TRUE(anyLineStartsWith(d, "recverror " + escapedCp932("第2メール"))) << joinLines(d);
    EXPECT_EQ(readFile(notADirectory), "not a folder");
}

// A server whose UIDL listing never ends, under a STAT count that allows any number of lines: the
// download ends with a clear error while the program stays small.
TEST_F(MailFailureOnLan, EndlessUidlListingEndsTheDownloadWithinBoundedMemory)
{
    const fs::path mailDir = folder.host(1) / "mail";
    fs::create_directories(mailDir);
    configure(mailDir);
    if (IsSkipped())
        return;
    const char* script = R"(
import socket, sys
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind((sys.argv[1], int(sys.argv[2])))
s.listen(1)
print("ready", flush=True)
c, _ = s.accept()
f = c.makefile("rb")
c.sendall(b"+OK ready\r\n")
for answer in (b"+OK\r\n", b"+OK\r\n", b"+OK 2147483647 1000\r\n", b"+OK\r\n"):
    f.readline()
    c.sendall(answer)
n, sent = 1, 0
try:
    while True:
        chunk = b"".join(b"%d unique-id-%d\r\n" % (k, k) for k in range(n, n + 4096))
        n += 4096
        c.sendall(chunk)
        sent += len(chunk)
except OSError:
    pass
print("sent %d" % sent, flush=True)
)";
    ASSERT_TRUE(startServer({"/usr/bin/python3", "-c", script, kServerAddress, kPort}));
    ASSERT_EQ(readFile(serverOut), "ready\n");

    ASSERT_TRUE(hosts[0].command("command 32771"));
    std::vector<std::string> d;
    const bool ended = hosts[0].dumpHas({"recvended 1", "recvwindow open", "recvrunning 0"}, &d);
    // Measured whether or not the download ended: a program that never stops listing grows meanwhile.
    const long peak = peakKib(hosts[0].pid);
    ASSERT_GT(peak, 0);
    std::printf("peak resident size of the program: %ld KiB\n", peak);
    EXPECT_LT(peak, 300L * 1024);
    ASSERT_TRUE(ended) << joinLines(d);
    EXPECT_TRUE(std::find(d.begin(), d.end(),
                          "recverror " + escapedCp932("サーバーの一覧が長すぎます。受信を中止しました。")) != d.end())
        << joinLines(d);
    // The server saw the connection close and stopped.
    EXPECT_TRUE(waitUntil([&] { return readFile(serverOut).find("sent ") != std::string::npos; }, 10000));
}

} // namespace

} // namespace orvalink::app
