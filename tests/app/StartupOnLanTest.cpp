#include "app/ProgramOnLan.h"
#include "platform/Profile.h"
#include "platform/SystemInfo.h"
#include "platform/text/Cp932.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

namespace orvalink::app {

namespace {

class StartupOnLan : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why;
        if (!tools::SimulatedLan::available(&why))
            GTEST_SKIP() << "needs a simulated LAN: " << why;
        lan = std::make_unique<tools::SimulatedLan>(2);
        lan->setGracePeriod(8000);
    }

    // The name the program announces on a first start: the computer name, as escaped on the wire.
    static std::string escapedComputerName()
    {
        return platform::escapeBytes(platform::cp932Prefix(platform::computerName(), 100));
    }

    bool endsCleanly(pid_t pid)
    {
        lan->signal(pid, SIGTERM);
        int status = 0;
        return lan->waitExit(pid, 10000, &status) && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    TestFolder folder;
    std::unique_ptr<tools::SimulatedLan> lan;
};

TEST_F(StartupOnLan, AnnouncesItselfAtStartAndLeavesAtSigterm)
{
    const fs::path peerOut = folder.root() / "peer.out";
    const pid_t peer = startListener(*lan, 2, peerOut, 12121, 4);
    const fs::path host1 = folder.host(1);
    const pid_t program = lan->start(1, programOn(host1));
    ASSERT_GT(program, 0);
    ASSERT_TRUE(waitUntil([&] { return datagrams(peerOut).size() >= 2; })) << readFile(host1 / "stderr.log");

    // A first start with an empty store writes exactly the four values of the default group.
    platform::Profile stored((host1 / "config/Orvalink/Orvalink.conf").string());
    const auto netmsg = stored.entries("NetMsg Entry");
    ASSERT_EQ(netmsg.size(), 4u);
    EXPECT_EQ(stored.getInt("NetMsg Entry", "User PortCnt", 0), 1);
    EXPECT_EQ(stored.getString("NetMsg Entry", "User Port1"), "12121");
    EXPECT_EQ(stored.getString("NetMsg Entry", "User PortName1"), platform::utf8ToCp932("グループ１"));
    EXPECT_EQ(stored.getString("NetMsg Entry", "User Name1"), platform::cp932Prefix(platform::computerName(), 100));

    ASSERT_TRUE(endsCleanly(program));
    ASSERT_TRUE(lan->waitExit(peer, 10000));
    const std::string from = lan->address(1) + " 12121 ";
    const std::string name = escapedComputerName();
    // Its own announcement comes back as a new member key (itself), which it answers once.
    EXPECT_EQ(datagrams(peerOut),
              (std::vector<std::string>{from + "0001#0001#ON #" + name + "#N#", from + "0001#0001#ON #" + name + "#C#",
                                        from + "0001#0001#ON #" + name + "#N#", from + "0001#0001#OFF#" + name + "#"}));
    // The window rectangle and the sort settings are stored at exit.
    platform::Profile after((host1 / "config/Orvalink/Orvalink.conf").string());
    EXPECT_TRUE(after.contains("MainWindow Entry", "top"));
    EXPECT_TRUE(after.contains("MainWindow Entry", "ColmSortsw"));
}

TEST_F(StartupOnLan, ASecondInstanceWithTheSameSettingsIsRefused)
{
    const fs::path peerOut = folder.root() / "peer.out";
    startListener(*lan, 2, peerOut, 12121, 2);
    const fs::path host1 = folder.host(1);
    const pid_t first = lan->start(1, programOn(host1));
    ASSERT_TRUE(waitUntil([&] { return datagrams(peerOut).size() >= 2; }));

    auto second = programOn(host1);
    second.stdoutPath = (host1 / "second.out").string();
    second.stderrPath = (host1 / "second.err").string();
    const pid_t refused = lan->start(1, second);
    int status = -1;
    ASSERT_TRUE(lan->waitExit(refused, 10000, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(readFile(host1 / "messageboxes.log"), "メッセージ\t２重起動は出来ません\n");
    EXPECT_FALSE(lan->waitExit(first, 0)) << "the first instance must keep running";
    EXPECT_TRUE(endsCleanly(first));
}

TEST_F(StartupOnLan, ABoundPortIsReportedOnceAndTheNextGroupStarts)
{
    const fs::path host1 = folder.host(1);
    {
        platform::Profile p((host1 / "config/Orvalink/Orvalink.conf").string());
        p.writeInt("NetMsg Entry", "User PortCnt", 2);
        p.writeString("NetMsg Entry", "User Port1", "12121");
        p.writeString("NetMsg Entry", "User PortName1", "taken");
        p.writeString("NetMsg Entry", "User Name1", "one");
        p.writeString("NetMsg Entry", "User Port2", "12122");
        p.writeString("NetMsg Entry", "User PortName2", "free");
        p.writeString("NetMsg Entry", "User Name2", "two");
    }
    // Another program holds port 12121 on host 1; a peer on host 2 listens to the second group.
    startListener(*lan, 1, folder.root() / "squatter.out", 12121, 100);
    const fs::path peerOut = folder.root() / "peer.out";
    startListener(*lan, 2, peerOut, 12122, 2);
    const pid_t program = lan->start(1, programOn(host1));
    ASSERT_TRUE(waitUntil([&] { return datagrams(peerOut).size() >= 2; }));
    EXPECT_EQ(datagrams(peerOut)[0], lan->address(1) + " 12122 0001#0001#ON #two#N#");
    EXPECT_EQ(readFile(host1 / "messageboxes.log"), "Orvalink\tSocket creation failed\n");
    EXPECT_TRUE(endsCleanly(program));
}

TEST_F(StartupOnLan, AHandBrokenSettingsFileDoesNotStopStartUp)
{
    const fs::path host1 = folder.host(1);
    fs::create_directories(host1 / "config/Orvalink");
    {
        std::ofstream f(host1 / "config/Orvalink/Orvalink.conf", std::ios::binary);
        const std::string junk("[NetMsg Entry\nUser PortCnt=\xff\xfe\x00junk\n=\n[]\n", 40);
        f << junk << "[NetMsg Entry]\nUser PortCnt=1\nUser Port1=12121\nUser Name1=kept\n"
          << std::string(100000, 'x') << "\n\x01\x02[[[\nUser Name2=broken\\xZZ\n";
    }
    const fs::path peerOut = folder.root() / "peer.out";
    startListener(*lan, 2, peerOut, 12121, 2);
    const pid_t program = lan->start(1, programOn(host1));
    ASSERT_TRUE(waitUntil([&] { return datagrams(peerOut).size() >= 2; })) << readFile(host1 / "stderr.log");
    // The good lines are kept.
    EXPECT_EQ(datagrams(peerOut)[0], lan->address(1) + " 12121 0001#0001#ON #kept#N#");
    EXPECT_TRUE(endsCleanly(program));
}

} // namespace

} // namespace orvalink::app
