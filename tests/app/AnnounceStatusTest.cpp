// The main window tells of an announcement that could not be sent: a status bar line and the head
// of the tray tooltip, until a send succeeds.
#include "app/CMainFrame.h"
#include "app/TrayIcon.h"
#include "chat/ChatGroupTable.h"
#include "chat/SendErrorText.h"
#include "platform/AsyncSocket.h"
#include "platform/MessageBoxRecorder.h"
#include "platform/TextCodec.h"
#include "platform/text/Cp932.h"
#include "support/SettingsSandbox.h"

#include <QLabel>
#include <QStatusBar>
#include <gtest/gtest.h>

namespace orvalink::app {

namespace {

std::string sj(const char* utf8)
{
    return platform::utf8ToCp932(utf8);
}

} // namespace

TEST(AnnounceStatus, AFailedAnnouncementShowsInTheStatusBarAndLeadsTheTooltipUntilASendSucceeds)
{
    orvalink::test::SettingsSandbox settings;
    platform::MessageBoxRecorder boxes;
    TrayIcon::overrideAvailability(true);
    chat::ChatGroupTable table;
    chat::ChatGroup& group = table.groups[0];
    group.name = "A";
    group.port = "20001";
    group.members.push_back("10.0.0.1#20001#me");
    table.groupCount = 1;

    CMainFrame frame(table);
    ASSERT_TRUE(frame.create());
    EXPECT_FALSE(frame.statusBar()->isVisibleTo(&frame));

    table.sendResult(0, true, platform::WSAENETUNREACH);
    EXPECT_TRUE(frame.statusBar()->isVisibleTo(&frame));
    EXPECT_EQ(platform::fromQString(frame.announceFailureLabel()->text()),
              sj("A: 参加の通知を送信できませんでした: ネットワークに到達できません"));
    const std::string tip = sj("送信できません(ネットワークに到達できません) A(参加 1 未読 0) ");
    EXPECT_EQ(frame.trayIcon()->tooltip(), platform::cp932Prefix(tip, TrayIcon::kMaxTooltipBytes));
    EXPECT_EQ(CMainFrame::tooltipText(table), frame.trayIcon()->tooltip());

    table.sendResult(0, false, 0);
    EXPECT_FALSE(frame.statusBar()->isVisibleTo(&frame));
    EXPECT_EQ(frame.trayIcon()->tooltip(), sj("A(参加 1 未読 0) "));

    frame.destroyWindow();
    table.clear();
    TrayIcon::overrideAvailability(std::nullopt);
}

} // namespace orvalink::app
