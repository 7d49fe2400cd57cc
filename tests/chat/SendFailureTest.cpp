// Sends that fail are never taken for sent: the write window keeps its text and says why, and a
// failed announcement stays known to the table until a send succeeds again.
#include "chat/CNetMsgDlg.h"
#include "chat/CSendChatFrame.h"
#include "chat/CSendChatThread.h"
#include "chat/CSendChatView.h"
#include "chat/ChatGroupObserver.h"
#include "chat/ChatTestSupport.h"
#include "chat/ChatWriteOpeners.h"
#include "chat/wire/ChatDatagram.h"
#include "platform/AsyncSocket.h"
#include "platform/Dispatch.h"
#include "platform/TextCodec.h"
#include "platform/text/Cp932.h"
#include "support/PrivateNetwork.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

namespace orvalink::chat {

namespace {

std::string sj(const char* utf8)
{
    return platform::utf8ToCp932(utf8);
}

bool ip(const std::string& args)
{
    for (const char* p : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"})
        if (::access(p, X_OK) == 0)
            return std::system((std::string(p) + " " + args + " >/dev/null 2>&1").c_str()) == 0;
    return false;
}

// While it lives, the test's namespace has no network to send on: no route, its interface down.
struct NetworkCut {
    NetworkCut() { ok = ip("route del default") && ip("link set v0 down"); }
    ~NetworkCut() { restore(); }
    void restore()
    {
        ip("link set v0 up");
        ip("route replace default dev v0");
    }
    bool ok = false;
};

struct FailureObserver : ChatGroupObserver {
    void announceFailureChanged() override { ++changes; }
    int changes = 0;
};

} // namespace

TEST(AnnounceFailure, TheFirstFailedAnnouncementIsKeptUntilASendSucceeds)
{
    ProfileSandbox sandbox;
    ChatGroupTable& table = sandbox.chatTable;
    configureGroup(table, 0, "12121", "A", "me");
    configureGroup(table, 1, "12122", "B", "me");
    FailureObserver observer;
    table.addObserver(observer);
    const struct {
        int group;
        bool announcement;
        int error;
        const char* failedGroup; // null: no failure known afterwards
        int failedError;
        int changes;
    } steps[] = {
        {0, false, platform::WSAENETUNREACH, nullptr, 0, 0}, // a message: its window says so
        {0, true, 0, nullptr, 0, 0},
        {1, true, platform::WSAENETUNREACH, "B", platform::WSAENETUNREACH, 1},
        {0, true, platform::WSAEHOSTUNREACH, "B", platform::WSAENETUNREACH, 1},
        {0, false, platform::WSAENOBUFS, "B", platform::WSAENETUNREACH, 1},
        {1, false, 0, nullptr, 0, 2},
        {0, false, 0, nullptr, 0, 2},
    };
    for (const auto& s : steps) {
        table.sendResult(s.group, s.announcement, s.error);
        const auto& failure = table.announceFailure();
        ASSERT_EQ(failure.has_value(), s.failedGroup != nullptr) << s.group << " " << s.error;
        if (failure) {
            EXPECT_EQ(failure->groupName, s.failedGroup);
            EXPECT_EQ(failure->error, s.failedError);
        }
        EXPECT_EQ(observer.changes, s.changes);
    }
    table.removeObserver(observer);
}

TEST(SendFailure, AWriteWindowWhoseSendFailsKeepsItsTextAndSaysWhy)
{
    ORVALINK_REQUIRE_PRIVATE_NETWORK();
    ProfileSandbox sandbox;
    platform::MessageBoxRecorder boxes;
    ChatGroupTable& table = sandbox.chatTable;
    std::vector<std::string> arrivals;
    TextSink sink([&](int, std::string_view text, const std::string&, unsigned) { arrivals.emplace_back(text); });
    table.setReceiver(&sink);
    FailureObserver observer;
    table.addObserver(observer);
    configureGroup(table, 0, "12121", "A", "me");

    NetworkCut cut;
    ASSERT_TRUE(cut.ok);
    table.startListener(0);
    // Both announcements failed: the table knows it, its observers were told once.
    ASSERT_TRUE(table.announceFailure().has_value());
    EXPECT_EQ(table.announceFailure()->groupName, "A");
    EXPECT_EQ(table.announceFailure()->error, platform::WSAENETUNREACH);
    EXPECT_EQ(observer.changes, 1);

    // The listener answers a request with the error, and a bad recipient is never a success.
    CNetMsgDlg* listener = table.sendTarget(0);
    ASSERT_NE(listener, nullptr);
    EXPECT_EQ(platform::sendMessage(listener, {platform::WM_CHAT_SEND_GROUP, std::string("x"), {}}),
              platform::WSAENETUNREACH);
    EXPECT_EQ(platform::sendMessage(listener, {platform::WM_CHAT_SEND_PERSONAL, std::string("x"), std::string("me")}),
              platform::WSAEDESTADDRREQ);

    CSendChatThread* t = openWriteToGroup(table, 0);
    ASSERT_NE(t, nullptr);
    CSendChatFrame* f = t->frame();
    QTest::keyClicks(f->view(), "hello");
    QTest::mouseClick(f->button(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return f->sendFailure()->isVisibleTo(f); }, 5000));
    EXPECT_EQ(platform::fromQString(f->sendFailure()->text()),
              sj("送信できませんでした: ネットワークに到達できません"));
    EXPECT_EQ(f->view()->text(), "hello");
    EXPECT_TRUE(f->button()->isEnabled());
    EXPECT_EQ(table.chatWriteSlots()[0], t);
    EXPECT_TRUE(boxes.calls().empty());

    // With the network back, the same window sends, closes, and the failure is forgotten.
    cut.restore();
    QTest::mouseClick(f->button(), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return table.chatWriteSlots()[0] == nullptr; }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !table.announceFailure().has_value(); }, 5000));
    EXPECT_EQ(observer.changes, 2);
    const std::string payload = buildGroupMessage("me", "hello").substr(kHeaderLength);
    EXPECT_TRUE(QTest::qWaitFor([&] { return std::count(arrivals.begin(), arrivals.end(), payload) == 1; }, 5000));

    table.removeObserver(observer);
    table.stopListener(0, false);
    table.setReceiver(nullptr);
}

} // namespace orvalink::chat
