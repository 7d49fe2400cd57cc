#include "platform/InstanceChannel.h"

#include "support/TestFiles.h"

#include <QLocalSocket>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace orvalink::platform {

using orvalink::test::TempDir;

namespace {

// requestRaise blocks, as the second start does; the listening side needs this thread's event
// loop meanwhile.
bool raiseFromAnotherThread(const std::string& directory, int timeoutMs = 3000)
{
    auto result = std::async(std::launch::async, [&] { return InstanceChannel::requestRaise(directory, timeoutMs); });
    while (result.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
        QTest::qWait(5);
    return result.get();
}

mode_t modeOf(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

} // namespace

TEST(InstanceChannel, ASecondStartAsksTheRunningInstanceToComeForward)
{
    TempDir dir;
    InstanceChannel running(dir.path());
    QSignalSpy raised(&running, &InstanceChannel::raiseRequested);
    ASSERT_TRUE(running.listen());
    EXPECT_EQ(running.socketPath(), dir.path() + "/Orvalink.instance/raise");
    EXPECT_EQ(modeOf(dir.path() + "/Orvalink.instance") & 0777, 0700u) << "only the owner may reach the socket";
    EXPECT_TRUE(S_ISSOCK(modeOf(running.socketPath())));

    EXPECT_TRUE(raiseFromAnotherThread(dir.path()));
    EXPECT_EQ(raised.count(), 1);
    EXPECT_TRUE(raiseFromAnotherThread(dir.path())) << "every later start is answered too";
    EXPECT_EQ(raised.count(), 2);

    TempDir other;
    EXPECT_FALSE(raiseFromAnotherThread(other.path(), 500)) << "another settings folder is another instance";
    EXPECT_EQ(raised.count(), 2);
}

TEST(InstanceChannel, NobodyListeningIsAnAnswerNotAWait)
{
    TempDir dir;
    std::filesystem::create_directory(dir.path() + "/Orvalink.instance");
    EXPECT_FALSE(InstanceChannel::requestRaise(dir.path(), 60000)) << "no socket: refused at once";
}

TEST(InstanceChannel, ASocketLeftByADeadInstanceIsReplaced)
{
    TempDir dir;
    {
        InstanceChannel dead(dir.path());
        ASSERT_TRUE(dead.listen());
    }
    // A crashed instance leaves its socket file behind; simulate it with a plain file there.
    std::filesystem::create_directories(dir.path() + "/Orvalink.instance");
    {
        std::ofstream(dir.path() + "/Orvalink.instance/raise") << "left over";
    }
    InstanceChannel running(dir.path());
    QSignalSpy raised(&running, &InstanceChannel::raiseRequested);
    ASSERT_TRUE(running.listen());
    EXPECT_TRUE(raiseFromAnotherThread(dir.path()));
    EXPECT_EQ(raised.count(), 1);
}

TEST(InstanceChannel, TheFolderIsMadeOwnerOnlyAndALinkInItsPlaceIsRefused)
{
    TempDir dir;
    const std::string folder = dir.path() + "/Orvalink.instance";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    InstanceChannel opened(dir.path());
    ASSERT_TRUE(opened.listen());
    EXPECT_EQ(modeOf(folder) & 0777, 0700u);

    TempDir linked, elsewhere;
    std::filesystem::create_directory_symlink(elsewhere.path(), linked.path() + "/Orvalink.instance");
    InstanceChannel refused(linked.path());
    EXPECT_FALSE(refused.listen()) << "a link could lead the socket into a folder others can enter";
    EXPECT_FALSE(refused.isListening());
}

TEST(InstanceChannel, AnythingButTheRequestRaisesNothing)
{
    TempDir dir;
    InstanceChannel running(dir.path());
    QSignalSpy raised(&running, &InstanceChannel::raiseRequested);
    ASSERT_TRUE(running.listen());
    for (const QByteArray& bytes : {QByteArray("raise now\n"), QByteArray("RAISE\n"), QByteArray(200, 'x')}) {
        QLocalSocket socket;
        socket.connectToServer(QString::fromStdString(running.socketPath()));
        ASSERT_TRUE(socket.waitForConnected(3000));
        socket.write(bytes);
        socket.flush();
        EXPECT_TRUE(QTest::qWaitFor([&] { return socket.state() == QLocalSocket::UnconnectedState; }, 3000))
            << "the instance ends the connection: " << bytes.left(20).toStdString();
        EXPECT_EQ(socket.readAll(), QByteArray()) << bytes.left(20).toStdString();
    }
    EXPECT_EQ(raised.count(), 0);
}

} // namespace orvalink::platform
