#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "app/ProgramOnLan.h"
#include "platform/Profile.h"
#include "platform/text/Cp932.h"

using namespace lantest;

namespace {

// One instance of the program on a host, driven through its automation channel.
struct Instance {
    fs::path dir;
    pid_t pid = -1;

    fs::path fifo() const { return dir / "control.fifo"; }

    bool command(const std::string& line) const
    {
        int fd = -1;
        // The program opens the channel itself at start; until then there is no reader.
        waitUntil([&] { return (fd = ::open(fifo().c_str(), O_WRONLY | O_NONBLOCK)) >= 0; }, 10000);
        if (fd < 0)
            return false;
        const std::string l = line + "\n";
        const bool ok = ::write(fd, l.data(), l.size()) == static_cast<ssize_t>(l.size());
        ::close(fd);
        return ok;
    }
    std::vector<std::string> dump() const
    {
        const fs::path out = dir / "state.txt";
        std::error_code ec;
        fs::remove(out, ec);
        if (!command("dump " + out.string()) || !waitUntil([&] { return fs::exists(out); }, 10000))
            return {};
        return lines(readFile(out));
    }
    // Waits until the dump holds every given line.
    bool dumpHas(const std::vector<std::string>& wanted, std::vector<std::string>* last = nullptr) const
    {
        std::vector<std::string> d;
        const bool ok = waitUntil(
            [&] {
                d = dump();
                return std::all_of(wanted.begin(), wanted.end(),
                                   [&](const std::string& w) { return std::find(d.begin(), d.end(), w) != d.end(); });
            },
            15000);
        if (last)
            *last = d;
        return ok;
    }
    std::string log() const
    {
        for (const auto& e : fs::directory_iterator(dir / "logs"))
            return readFile(e.path());
        return {};
    }
};

std::string join(const std::vector<std::string>& v)
{
    std::string s;
    for (const auto& l : v)
        s += l + "\n";
    return s;
}

class ChatOnLan : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why;
        if (!simlan::SimulatedLan::available(&why))
            GTEST_SKIP() << "needs a simulated LAN: " << why;
        lan = std::make_unique<simlan::SimulatedLan>(3);
        lan->setGracePeriod(8000);
        for (int k = 1; k <= 3; ++k) {
            Instance inst;
            inst.dir = folder.host(k);
            fs::create_directories(inst.dir / "logs");
            ::mkfifo(inst.fifo().c_str(), 0600);
            platform::Profile p((inst.dir / "config/Orvalink/Orvalink.conf").string());
            p.writeInt("NetMsg Entry", "User PortCnt", 1);
            p.writeString("NetMsg Entry", "User Port1", "12121");
            p.writeString("NetMsg Entry", "User PortName1", "G");
            p.writeString("NetMsg Entry", "User Name1", "host" + std::to_string(k));
            p.writeInt("NetMsg Entry", "Log YesNo", 1);
            p.writeString("NetMsg Entry", "Log Folder", (inst.dir / "logs").string());
            auto program = programOn(inst.dir);
            program.env.push_back({"ORVALINK_AUTOMATION", inst.fifo().string()});
            inst.pid = lan->start(k, program);
            hosts.push_back(inst);
        }
    }

    std::string key(int k) const { return lan->address(k) + "#12121#host" + std::to_string(k); }

    TestFolder folder;
    std::unique_ptr<simlan::SimulatedLan> lan;
    std::vector<Instance> hosts;
};

TEST_F(ChatOnLan, ThreeHostsFindEachOtherTalkAndLeave)
{
    // Every instance lists all three (itself included) under the group, in its members and tree.
    for (const auto& h : hosts) {
        std::vector<std::string> d;
        EXPECT_TRUE(h.dumpHas({"member 0 " + key(1), "member 0 " + key(2), "member 0 " + key(3),
                               "node Orvalink(G) host1", "node Orvalink(G) host2", "node Orvalink(G) host3"},
                              &d))
            << join(d);
    }

    // A group message from host 1 is a row on all three and in all three logs.
    ASSERT_TRUE(hosts[0].command("group 0 hello\\x0D\\x0Aworld"));
    for (const auto& h : hosts) {
        std::vector<std::string> d;
        EXPECT_TRUE(waitUntil([&] {
            d = h.dump();
            return std::any_of(d.begin(), d.end(), [](const std::string& l) {
                return l.rfind("row 0 host1  ", 0) == 0 && l.find("|30|hello\\x0D\\x0Aworld||1") != std::string::npos;
            });
        })) << join(d);
    }
    EXPECT_TRUE(waitUntil([&] { return hosts[2].log().find("world\r\n") != std::string::npos; }));
    const std::string log1 = hosts[0].log();
    EXPECT_NE(log1.find("To: host1  "), std::string::npos);
    EXPECT_NE(log1.find("From: host1  "), std::string::npos);
    EXPECT_NE(log1.find("\r\nhello\r\nworld\r\n"), std::string::npos);
    EXPECT_EQ(hosts[1].log().find("To: "), std::string::npos);
    EXPECT_NE(hosts[1].log().find("From: host1  "), std::string::npos);

    // A personal message reaches only its recipient.
    ASSERT_TRUE(hosts[0].command("personal 0 " + lan->address(2) + " just for two"));
    std::vector<std::string> d2;
    EXPECT_TRUE(waitUntil([&] {
        d2 = hosts[1].dump();
        return std::any_of(d2.begin(), d2.end(),
                           [](const std::string& l) { return l.find("|18|just for two|1|1") != std::string::npos; });
    })) << join(d2);
    // A later group message is a marker: once host 3 has it, it would have had the personal one.
    ASSERT_TRUE(hosts[0].command("group 0 marker"));
    std::vector<std::string> d3;
    ASSERT_TRUE(waitUntil([&] {
        d3 = hosts[2].dump();
        return join(d3).find("|marker||1") != std::string::npos;
    }));
    EXPECT_EQ(join(d3).find("just for two"), std::string::npos);
    EXPECT_EQ(join(hosts[0].dump()).find("just for two"), std::string::npos);

    // The tray's exit on host 3 removes it from the others' members and trees.
    ASSERT_TRUE(hosts[2].command("exit"));
    int status = -1;
    ASSERT_TRUE(lan->waitExit(hosts[2].pid, 15000, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    for (int k : {0, 1}) {
        std::vector<std::string> d;
        EXPECT_TRUE(waitUntil([&] {
            d = hosts[static_cast<std::size_t>(k)].dump();
            const std::string all = join(d);
            return all.find(key(3)) == std::string::npos && all.find("node Orvalink(G) host3") == std::string::npos &&
                   all.find("node Orvalink(G) host2") != std::string::npos;
        })) << join(d);
    }
}

} // namespace
