#include "app/CAboutDlg.h"
#include "app/CChatListView.h"
#include "app/CLeftView.h"
#include "app/CMainFrame.h"
#include "app/ChatPaneState.h"
#include "app/ChatRowSource.h"
#include "app/TrayIcon.h"
#include "chat/ChatGroupTable.h"
#include "chat/ChatReceiver.h"
#include "chat/wire/ChatDatagram.h"
#include "controls/CReportCtrl.h"
#include "controls/ReportRowSource.h"
#include "platform/Dispatch.h"
#include "platform/MessageBoxRecorder.h"
#include "platform/Messages.h"
#include "platform/Profile.h"
#include "platform/text/Cp932.h"
#include "res/ResourceIds.h"
#include "support/SettingsSandbox.h"

#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QSystemTrayIcon>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <vector>

namespace orvalink::app {

using chat::ChatGroup;
using chat::ChatGroupTable;
using chat::ChatReceiver;
using controls::CReportCtrl;
using controls::ReportItem;
using controls::ReportRowSource;
using platform::WM_CHAT_ROWS_CHANGED;
using platform::WM_COMMAND;
using platform::WM_LBUTTONDBLCLK;
using platform::WM_LBUTTONUP;
using platform::WM_RBUTTONUP;

namespace {

std::string sj(const char* utf8)
{
    return platform::utf8ToCp932(utf8);
}

class MainFrame : public ::testing::Test {
protected:
    void SetUp() override
    {
        chatTable.clear();
        // The offscreen platform has no tray; these tests say whether there is one.
        TrayIcon::overrideAvailability(true);
    }
    void TearDown() override
    {
        chatTable.clear();
        TrayIcon::overrideAvailability(std::nullopt);
    }

    void addGroup(const std::string& name, int members, int unread, int read = 0)
    {
        ChatGroupTable& t = chatTable;
        ChatGroup& g = t.groups[static_cast<std::size_t>(t.groupCount++)];
        g.name = name;
        g.port = std::to_string(20000 + t.groupCount);
        for (int i = 0; i < members; ++i)
            g.members.push_back("10.0.0." + std::to_string(i) + "#1#m");
        for (int i = 0; i < unread; ++i)
            g.rows.push_back({"h", 18, "unread", chat::RowKind::Message, true});
        for (int i = 0; i < read; ++i)
            g.rows.push_back({"h", 18, "read", chat::RowKind::Message, false});
    }
    // To the main window that is up (none once it has been destroyed).
    static std::intptr_t send(std::int64_t w, std::int64_t l)
    {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* frame = dynamic_cast<CMainFrame*>(widget); frame && !frame->isDestroyed())
                return platform::sendMessage(frame->messageTarget(), {WM_CHAT_ROWS_CHANGED, w, l});
        }
        return 0;
    }

    orvalink::test::SettingsSandbox m_settings;
    platform::MessageBoxRecorder m_boxes;
    ChatGroupTable chatTable;
};

TEST_F(MainFrame, TooltipSumsUpEveryGroupInSixtyThreeBytes)
{
    addGroup("A", 3, 2, 4);
    addGroup("B", 1, 0);
    EXPECT_EQ(CMainFrame::tooltipText(chatTable), sj("A(参加 3 未読 2) B(参加 1 未読 0) "));

    // Long group names: cut at 63 bytes, never inside a double-byte character.
    chatTable.clear();
    addGroup(sj("あいうえおかきくけこさしすせそたちつてと"), 1, 1); // 40 bytes of name
    addGroup("B", 0, 0);
    const std::string tip = CMainFrame::tooltipText(chatTable);
    EXPECT_LE(tip.size(), 63u);
    EXPECT_GE(tip.size(), 62u);
    EXPECT_TRUE(platform::cp932RoundTrips(tip));
    EXPECT_EQ(tip, platform::cp932Prefix(
                       sj("あいうえおかきくけこさしすせそたちつてと(参加 1 未読 1) B(参加 0 未読 0) "), 63));
}

TEST_F(MainFrame, StartsWithTheTrayTooltipAndItsViews)
{
    addGroup("A", 0, 0);
    CMainFrame frame(chatTable);
    ASSERT_TRUE(frame.create());
    EXPECT_TRUE(chatTable.isObserver(frame.chatObserver()));
    EXPECT_TRUE(frame.chatPane().treeReady());
    EXPECT_EQ(frame.treeView()->groupNodeCount(), 1);
    EXPECT_EQ(frame.trayIcon()->tooltip(), sj("メッセージ0件"));
    EXPECT_TRUE(frame.splashShown());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !frame.splashShown(); }, 5000));
    EXPECT_FALSE(frame.columnChooser()->isVisible());
}

TEST_F(MainFrame, RowChangesRefreshTheListOnlyForTheShownGroup)
{
    addGroup("A", 2, 1);
    addGroup("B", 1, 0);
    CMainFrame frame(chatTable);
    ASSERT_TRUE(frame.create());
    frame.show();
    frame.chatPane().setCurrentGroup(0);
    CReportCtrl* ctrl = frame.reportView()->reportCtrl();

    chatTable.groups[1].rows.push_back({"h", 18, "new in B", chat::RowKind::Message, true});
    send(1, 0);
    EXPECT_EQ(ctrl->itemCount(), 0) << "B is not shown: the list stays as it was";
    EXPECT_EQ(frame.trayIcon()->tooltip(), sj("A(参加 2 未読 1) B(参加 1 未読 1) "));

    send(0, 0);
    ASSERT_EQ(ctrl->itemCount(), 1);
    const ReportRowSource& source = *frame.reportView()->source();
    ASSERT_EQ(source.rowCount(), 1);
    EXPECT_EQ(source.body(0), "unread");
    EXPECT_TRUE(source.row(0).unread);
    ReportItem item;
    item.item = 0;
    item.subItem = 0;
    ASSERT_TRUE(ctrl->getItem(item));
    EXPECT_EQ(item.preview, 18); // unread: the message shows under the header
}

// The current group is the main window's: when a group is deleted it follows its group, or stays
// on the index when its own group went (the last index has none left and moves back), and the
// list shows the current group's rows again.
TEST_F(MainFrame, DeletingAGroupMovesTheShownGroupAndShowsItsRowsAgain)
{
    struct Case {
        int deleted;
        int shown;
        int shownAfter;
        const char* headerAfter;
    };
    const std::vector<Case> cases = {{0, 2, 1, "C"}, {0, 0, 0, "B"}, {1, 1, 1, "C"},
                                     {1, 2, 1, "C"}, {2, 2, 1, "B"}, {2, 0, 0, "A"}};
    for (const Case& c : cases) {
        SCOPED_TRACE("deleting " + std::to_string(c.deleted) + " while " + std::to_string(c.shown) + " is shown");
        chatTable.clear();
        for (const char* name : {"A", "B", "C"}) {
            addGroup(name, 0, 0);
            chatTable.groups[static_cast<std::size_t>(chatTable.groupCount - 1)].rows.push_back(
                {name, 18, "row", chat::RowKind::Message, true});
        }
        CMainFrame frame(chatTable);
        ASSERT_TRUE(frame.create());
        frame.show();
        frame.treeView()->setCurrentItem(frame.treeView()->topLevelItem(c.shown));
        CReportCtrl* ctrl = frame.reportView()->reportCtrl();
        ASSERT_EQ(frame.chatPane().currentGroup(), c.shown);
        ASSERT_EQ(ctrl->itemCount(), 1);

        chatTable.deleteGroup(c.deleted, platform::Profile::application());

        EXPECT_EQ(frame.chatPane().currentGroup(), c.shownAfter);
        EXPECT_EQ(frame.treeView()->groupNodeCount(), 2);
        ASSERT_EQ(ctrl->itemCount(), 1);
        EXPECT_EQ(ctrl->getItemText(0, 0), c.headerAfter);
        frame.destroyWindow();
    }

    // The only group: nothing is left to show.
    chatTable.clear();
    addGroup("A", 0, 1);
    CMainFrame frame(chatTable);
    ASSERT_TRUE(frame.create());
    frame.show();
    frame.treeView()->setCurrentItem(frame.treeView()->topLevelItem(0));
    ASSERT_EQ(frame.reportView()->reportCtrl()->itemCount(), 1);
    chatTable.deleteGroup(0, platform::Profile::application());
    EXPECT_EQ(frame.chatPane().currentGroup(), 0);
    EXPECT_EQ(frame.reportView()->reportCtrl()->itemCount(), 0);
}

TEST_F(MainFrame, AHiddenListIsOnlyMarkedAndCatchesUpWhenShown)
{
    addGroup("A", 1, 2);
    CMainFrame frame(chatTable);
    ASSERT_TRUE(frame.create());
    frame.chatPane().setCurrentGroup(0);
    frame.hide();
    CChatListView* view = frame.reportView();
    CReportCtrl* ctrl = view->reportCtrl();
    send(0, 0);
    EXPECT_EQ(ctrl->itemCount(), 0) << "nothing is done for a hidden list";
    EXPECT_TRUE(view->stale());
    EXPECT_EQ(frame.trayIcon()->tooltip(), sj("A(参加 1 未読 2) ")) << "the tooltip is not left for later";

    frame.show();
    EXPECT_FALSE(view->stale());
    ASSERT_EQ(ctrl->itemCount(), 2);
    EXPECT_EQ(ctrl->firstVisible(), ctrl->bottomPosition()); // the newest row in view

    // A reader of the list brings it up to date first.
    frame.hide();
    chatTable.groups[0].rows.push_back({"h", 18, "third", chat::RowKind::Message, true});
    send(0, 0);
    EXPECT_EQ(ctrl->itemCount(), 2);
    view->bringUpToDate();
    EXPECT_EQ(ctrl->itemCount(), 3);
    EXPECT_FALSE(view->stale());
}

TEST_F(MainFrame, CloseHidesAndTrayDoubleClickToggles)
{
    addGroup("A", 0, 0);
    CMainFrame frame(chatTable);
    ASSERT_TRUE(frame.create());
    frame.show();
    ASSERT_TRUE(frame.isVisible());
    frame.close();
    EXPECT_FALSE(frame.isVisible());
    EXPECT_FALSE(frame.isDestroyed());
    // The main menu's exit only hides as well.
    frame.show();
    frame.onCommand(res::kCmdAppExit);
    EXPECT_FALSE(frame.isVisible());
    EXPECT_FALSE(frame.isDestroyed());

    send(res::kTrayIconId, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(frame.isVisible());
    send(res::kTrayIconId, WM_LBUTTONDBLCLK);
    EXPECT_FALSE(frame.isVisible());
}

TEST_F(MainFrame, TrayClicksShowAndHideTheWindow)
{
    addGroup("A", 0, 0);
    CMainFrame frame(chatTable);
    ASSERT_TRUE(frame.create());
    // A click (all that some trays report) and a double-click each toggle the window.
    for (std::int64_t mouse : {WM_LBUTTONUP, WM_LBUTTONDBLCLK}) {
        SCOPED_TRACE(mouse);
        ASSERT_FALSE(frame.isVisible());
        send(res::kTrayIconId, mouse);
        EXPECT_TRUE(frame.isVisible());
        send(res::kTrayIconId, mouse);
        EXPECT_FALSE(frame.isVisible());
    }
    // One gesture toggles once, however the desktop reports a double-click: as a click and a
    // double-click, or as two clicks.
    frame.trayIcon()->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(frame.isVisible()) << "a double-click alone toggles";
    frame.trayIcon()->activated(QSystemTrayIcon::Trigger);
    frame.trayIcon()->activated(QSystemTrayIcon::DoubleClick);
    frame.trayIcon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(frame.isVisible());

    // The menu's "表示(&S)" shows the window and leaves it shown.
    frame.hide();
    frame.setMenuPresenter([](int, QMenu& menu) {
        ASSERT_EQ(menu.actions().size(), 2);
        EXPECT_EQ(menu.actions()[0]->text(), QString::fromUtf8("表示(&S)"));
        menu.actions()[0]->trigger();
    });
    for (int i = 0; i < 2; ++i) {
        send(res::kTrayIconId, WM_RBUTTONUP);
        EXPECT_TRUE(frame.isVisible());
    }
}

TEST_F(MainFrame, WithoutATrayClosingEndsTheProgram)
{
    addGroup("A", 0, 0);
    TrayIcon::overrideAvailability(false);
    // The close box and the main menu's exit: with nothing to show the window again, both ask for
    // the end (leave notices and all), like the tray menu's exit.
    for (bool viaMenu : {false, true}) {
        CMainFrame frame(chatTable);
        ASSERT_TRUE(frame.create());
        frame.show();
        int requests = 0;
        QObject::connect(&frame, &CMainFrame::exitRequested, [&] { ++requests; });
        if (viaMenu)
            frame.onCommand(res::kCmdAppExit);
        else
            frame.close();
        EXPECT_EQ(requests, 1) << viaMenu;
        EXPECT_TRUE(frame.isExitRequested());
    }
}

TEST_F(MainFrame, TrayTooltipFollowsMembersJoiningAndLeaving)
{
    struct NoIo : ChatReceiver::GroupIo {
        void sendPresenceReply(int, const std::string&) override {}
    } io;
    ChatReceiver receiver(io, chatTable);
    addGroup("A", 0, 0);
    chatTable.groups[0].port = "12121";
    CMainFrame frame(chatTable);
    ASSERT_TRUE(frame.create());
    auto payload = [](const std::string& datagram) { return datagram.substr(chat::kHeaderLength); };

    receiver.handle(payload(chat::buildPresence("one")), "10.0.0.1", 12121);
    receiver.handle(payload(chat::buildPresence("two")), "10.0.0.2", 12121);
    EXPECT_EQ(frame.trayIcon()->tooltip(), sj("A(参加 2 未読 0) "));
    receiver.handle(payload(chat::buildLeave("one")), "10.0.0.1", 12121);
    EXPECT_EQ(frame.trayIcon()->tooltip(), sj("A(参加 1 未読 0) "));
}

TEST_F(MainFrame, TrayMenuExitDestroysTheWindowAndSavesItsRectangle)
{
    addGroup("A", 0, 0);
    {
        CMainFrame frame(chatTable);
        ASSERT_TRUE(frame.create());
        frame.setGeometry(40, 50, 400, 300);
        int shownMenu = 0;
        bool destroyedInsideTheMenu = true;
        frame.setMenuPresenter([&](int id, QMenu& menu) {
            shownMenu = id;
            ASSERT_EQ(menu.actions().size(), 2);
            EXPECT_EQ(menu.actions()[1]->text(), QString::fromUtf8("終了(&X)"));
            menu.actions()[1]->trigger();
            // The menu's own event is still being delivered: nothing it uses may be gone yet.
            destroyedInsideTheMenu = frame.isDestroyed() || !frame.trayIcon()->created();
        });
        int requests = 0;
        bool destroyedSignal = false;
        QObject::connect(&frame, &CMainFrame::exitRequested, [&] { ++requests; });
        QObject::connect(&frame, &CMainFrame::windowDestroyed, [&] { destroyedSignal = true; });
        send(res::kTrayIconId, WM_RBUTTONUP);
        EXPECT_EQ(shownMenu, 238);
        EXPECT_FALSE(destroyedInsideTheMenu);
        EXPECT_EQ(requests, 1);
        // The shutdown itself, as the program runs it once its event loop has returned.
        frame.destroyWindow();
        EXPECT_TRUE(frame.isDestroyed());
        EXPECT_TRUE(destroyedSignal);
        EXPECT_FALSE(frame.trayIcon()->created());
        EXPECT_FALSE(chatTable.isObserver(frame.chatObserver()));
    }
    auto& p = platform::Profile::application();
    EXPECT_EQ(p.getInt("MainWindow Entry", "Left", 0), 40);
    EXPECT_EQ(p.getInt("MainWindow Entry", "top", 0), 50);
    EXPECT_EQ(p.getInt("MainWindow Entry", "Right", 0), 440);
    EXPECT_EQ(p.getInt("MainWindow Entry", "Bottom", 0), 350);
    EXPECT_EQ(p.getInt("MainWindow Entry", "ColmSort", -1), 0);
    EXPECT_EQ(p.getInt("MainWindow Entry", "ColmSortsw", -1), 0);

    // The next start comes up in the same place.
    CMainFrame again(chatTable);
    ASSERT_TRUE(again.create());
    EXPECT_EQ(again.geometry(), QRect(40, 50, 400, 300));
}

// The mail windows and the port settings plug into their commands: each command runs its own
// handler and no other. (Send, which has no window yet, is a disabled action: see the toolbar test.)
TEST_F(MainFrame, CommandsRunThePluggedHandlerAndTheAddressBookShowsItsBox)
{
    addGroup("A", 0, 0);
    CMainFrame frame(chatTable);
    ASSERT_TRUE(frame.create());
    const std::vector<int> plugged = {32771, 32773, 32776, 32792, 32810};
    std::map<int, int> ran;
    for (int id : plugged)
        frame.setCommandHandler(id, [&ran, id] { ++ran[id]; });
    for (int id : plugged) {
        SCOPED_TRACE(id);
        EXPECT_TRUE(frame.onCommand(id));
        std::map<int, int> expected;
        for (int other : plugged)
            if (other <= id)
                expected[other] = 1;
        EXPECT_EQ(ran, expected);
    }
    EXPECT_TRUE(m_boxes.calls().empty());
    EXPECT_TRUE(frame.onCommand(32780));
    ASSERT_EQ(m_boxes.calls().size(), 1u);
    EXPECT_EQ(m_boxes.calls()[0].text, sj("アドレス帳"));
    EXPECT_FALSE(frame.onCommand(12345));
}

TEST_F(MainFrame, MailToolbarAndMenuIssueTheMailCommands)
{
    addGroup("A", 0, 0);
    CMainFrame frame(chatTable);
    ASSERT_TRUE(frame.create());
    frame.show();
    std::vector<int> issued;
    for (int id : {32771, 32773, 32776, 32778, 32780, 32792})
        frame.setCommandHandler(id, [&issued, id] { issued.push_back(id); });

    struct Button {
        int id;
        const char* prompt;
        bool enabled;
    };
    const Button buttons[] = {{32771, "メールを受信します", true},       {32773, "メール設定をします", true},
                              {32776, "新規にメールを作成します", true}, {32778, "メールを送信します", false},
                              {32780, "アドレス帳を開きます", false},    {32792, "メールを送受信します", true}};
    QToolBar* bar = frame.mailToolBar();
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->objectName(), "133");
    EXPECT_TRUE(bar->isVisible());
    ASSERT_EQ(bar->actions().size(), 6);

    QMenu* mail = nullptr;
    for (QAction* a : frame.menuBar()->actions())
        if (a->text() == QString::fromUtf8("メール(&M)"))
            mail = a->menu();
    ASSERT_NE(mail, nullptr);
    ASSERT_EQ(mail->actions().size(), 6);

    for (std::size_t i = 0; i < std::size(buttons); ++i) {
        const Button& b = buttons[i];
        SCOPED_TRACE(b.id);
        QAction* action = bar->actions()[static_cast<int>(i)];
        EXPECT_EQ(action, frame.commandAction(b.id));
        EXPECT_EQ(mail->actions()[static_cast<int>(i)], action) << "the menu carries the same commands";
        EXPECT_EQ(action->toolTip(), QString::fromUtf8(b.prompt));
        EXPECT_FALSE(action->icon().isNull());
        EXPECT_EQ(action->isEnabled(), b.enabled);

        // A click on the button issues the command, unless the button is disabled.
        auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(action));
        ASSERT_NE(button, nullptr);
        issued.clear();
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_EQ(issued, b.enabled ? std::vector<int>{b.id} : std::vector<int>{});
        // As does the posted command, which needs no button.
        issued.clear();
        platform::postMessage(frame.messageTarget(), {WM_COMMAND, std::int64_t{b.id}, {}});
        EXPECT_TRUE(QTest::qWaitFor([&] { return !issued.empty(); }, 5000));
        EXPECT_EQ(issued, std::vector<int>{b.id});
    }
    EXPECT_EQ(frame.commandAction(32810), nullptr);
}

TEST_F(MainFrame, ArrivingRowsUpdateAFullListInPlace)
{
    struct NoIo : ChatReceiver::GroupIo {
        void sendPresenceReply(int, const std::string&) override {}
    } io;
    ChatReceiver receiver(io, chatTable);
    addGroup("A", 0, 0);
    chatTable.groups[0].port = "12121";
    auto& rows = chatTable.groups[0].rows;
    rows.clear();
    for (std::size_t i = 0; i < ChatReceiver::kMaxRowsPerGroup; ++i)
        rows.push_back(
            {"old " + std::to_string(i), 18, "b", chat::RowKind::Message, i % 2 == 1, ChatReceiver::nextRowSerial()});
    CMainFrame frame(chatTable);
    ASSERT_TRUE(frame.create());
    frame.show();
    frame.chatPane().setCurrentGroup(0);
    send(0, 0);
    CReportCtrl* ctrl = frame.reportView()->reportCtrl();
    ASSERT_EQ(ctrl->itemCount(), kPaneRowCapacity);

    // Three arrivals in the full group: the three oldest rows leave the top, the new ones come
    // in at the bottom, exactly as a rebuild from the table would show them.
    for (int i = 0; i < 3; ++i)
        receiver.handle("WR1#new" + std::to_string(i) + "#C#text", "10.0.0.9", 12121);
    ASSERT_EQ(ctrl->itemCount(), kPaneRowCapacity);
    EXPECT_EQ(ctrl->getItemText(0, 0), "old 3");
    EXPECT_EQ(ctrl->getItemText(kPaneRowCapacity - 1, 0).substr(0, 4), "new2");
    for (int i : {0, 1, 100, 4000, kPaneRowCapacity - 2, kPaneRowCapacity - 1})
        EXPECT_EQ(ctrl->getItemText(i, 0),
                  rows[rows.size() - static_cast<std::size_t>(kPaneRowCapacity) + static_cast<std::size_t>(i)].header)
            << i;

    // Another group's rows replace the list whole.
    addGroup("B", 0, 2);
    frame.chatPane().setCurrentGroup(1);
    send(1, 0);
    EXPECT_EQ(ctrl->itemCount(), 2);
}

TEST(AboutBox, ProcessorLineAndPhysicalMemory)
{
    EXPECT_EQ(CAboutDlg::systemText(586, 2048000000ULL),
              sj("プロセッサ Pentium\nWindowsが使用できる物理メモリ 2000.00MB"));
    EXPECT_EQ(CAboutDlg::systemText(386, 1024000ULL), sj("プロセッサ Intel386\nWindowsが使用できる物理メモリ 1.00MB"));
    EXPECT_EQ(CAboutDlg::systemText(486, 0), sj("プロセッサ Intel486\nWindowsが使用できる物理メモリ 0.00MB"));
    EXPECT_EQ(CAboutDlg::systemText(0, 512000ULL), sj("Windowsが使用できる物理メモリ 0.50MB"));
}

} // namespace

} // namespace orvalink::app
