// The whole program on a real X server with a window manager that has a tray, driven by real
// clicks and keys: what the offscreen platform cannot show (a tray icon's own mouse event, menus
// and message boxes with their own event loops, window frames, the close box).
//
// Each test builds a simulated LAN; the X server (Xvfb) and the window manager (icewm) run on
// host 1, the program runs on host 1 and listens for nothing outside the LAN, a raw UDP listener
// on host 2 hears what it sends. The X server listens on its socket file only, which the programs
// reach from their namespaces. Everything started is ended by pid when the LAN goes, also when a
// test fails; the program is driven with xdotool and watched through its automation channel's
// dump (where its windows, buttons and menu items are).

#include "desktop/DesktopHarness.h"

namespace orvalink::app {

namespace {

TEST_F(Desktop, TrayMenuExitEndsTheProgramInOrder)
{
    START_DESKTOP(2);
    const fs::path heard = listenOnHost2();
    const DrivenHost h = startProgram(1);
    clickOwn(h, waitTray(h), 3);
    ASSERT_TRUE(waitPlace(h, "popupitem", esc("終了(&X)"))) << joinLines(h.dump());
    const auto dump = h.dump();
    const auto show = placeOf(dump, "popupitem", esc("表示(&S)"));
    const auto exit = placeOf(dump, "popupitem", esc("終了(&X)"));
    ASSERT_TRUE(exit);
    EXPECT_TRUE(show && show->y < exit->y) << "表示(&S) stands above 終了(&X)";
    // The exit is chosen inside the menu's own mouse event, which the tray icon's opened.
    clickOwn(h, *exit);
    expectOrderlyEnd(h);
    EXPECT_TRUE(heardLeave(heard, "host1"));
}

TEST_F(Desktop, TrayClicksShowAndHideTheWindow)
{
    START_DESKTOP(1);
    const DrivenHost h = startProgram(1);
    const Rect tray = waitTray(h);
    EXPECT_FALSE(findWindow(h.dump(), "CMainFrame")) << "the program starts in the tray";
    clickOwn(h, tray);
    ASSERT_TRUE(waitWindow(h, "CMainFrame")) << "a click shows the window " << tray << "\n" << joinLines(h.dump());
    std::string ids;
    EXPECT_EQ(xdo({"search", "--onlyvisible", "--name", "^Orvalink$"}, &ids), 0) << "the X server shows it too";
    separateClicks();
    clickOwn(h, tray);
    ASSERT_TRUE(waitGone(h, "CMainFrame")) << "a second click hides it";

    // A double-click is one gesture: it shows the window once. The menu opened after it is seen
    // only when both clicks have been acted on.
    separateClicks();
    clickOwn(h, tray, 1, 2);
    clickOwn(h, tray, 3);
    ASSERT_TRUE(waitPlace(h, "popupitem", esc("表示(&S)")));
    EXPECT_TRUE(findWindow(h.dump(), "CMainFrame"));
    key("Escape");
    ASSERT_TRUE(waitUntil([&] {
        const auto d = h.dump();
        return std::none_of(d.begin(), d.end(), [](const std::string& l) { return l.rfind("popupitem", 0) == 0; });
    })) << "Escape closes the menu";
    separateClicks();
    clickOwn(h, tray);
    ASSERT_TRUE(waitGone(h, "CMainFrame"));

    // The menu's "表示(&S)" shows it.
    separateClicks();
    clickOwn(h, tray, 3);
    const auto show = waitPlace(h, "popupitem", esc("表示(&S)"));
    ASSERT_TRUE(show) << joinLines(h.dump());
    clickOwn(h, *show);
    EXPECT_TRUE(waitWindow(h, "CMainFrame"));
    exitThroughTrayMenu(h);
}

TEST_F(Desktop, CloseBoxAndFileExitHideTheWindowWhileTheTrayHoldsTheProgram)
{
    START_DESKTOP(1);
    const DrivenHost h = startProgram(1);
    const Rect tray = waitTray(h);
    clickOwn(h, tray);
    auto main = waitWindow(h, "CMainFrame");
    ASSERT_TRUE(main);
    clickCloseBox(*main);
    ASSERT_TRUE(waitGone(h, "CMainFrame"));
    EXPECT_TRUE(running(h));

    // ファイル -> 終了(&X) by the keyboard hides it as well.
    separateClicks();
    clickOwn(h, tray);
    main = waitWindow(h, "CMainFrame");
    ASSERT_TRUE(main);
    clickTitleBar(h, *main);
    key("alt+f");
    const auto item = waitPlace(h, "popupitem", esc("終了(&X)"));
    ASSERT_TRUE(item);
    clickOwn(h, *item);
    ASSERT_TRUE(waitGone(h, "CMainFrame"));
    EXPECT_TRUE(running(h));
    exitThroughTrayMenu(h);
}

TEST_F(Desktop, WithoutATrayTheWindowIsShownAndItsCloseBoxEndsTheProgram)
{
    START_DESKTOP(2, false);
    const fs::path heard = listenOnHost2();
    const DrivenHost h = startProgram(1);
    const auto main = waitWindow(h, "CMainFrame");
    ASSERT_TRUE(main) << "without a tray the window is the way in";
    ASSERT_TRUE(waitUntil([&] {
        const auto m = findWindow(h.dump(), "CMainFrame");
        return m && m->client.y > m->frame.y; // framed by the window manager
    }));
    clickCloseBox(*findWindow(h.dump(), "CMainFrame"));
    expectOrderlyEnd(h);
    EXPECT_TRUE(heardLeave(heard, "host1"));
}

TEST_F(Desktop, SignalWhileAMessageBoxIsOpenEndsInOrder)
{
    START_DESKTOP(3);
    const fs::path heard = listenOnHost2();
    const DrivenHost h = startProgram(1);
    waitTray(h);
    ASSERT_TRUE(h.command("show"));
    ASSERT_TRUE(waitWindow(h, "CMainFrame"));
    // A message from someone on host 3 who never announced himself: the reply has nobody to go
    // to, and the read window says so in a message box.
    std::string out;
    ASSERT_EQ(lan->run(3,
                       {udpPeerPath(), "send", "--from-port", "12121", "--to", "255.255.255.255", "--port", "12121",
                        "--broadcast", platform::escapeBytes(chat::buildGroupMessage("stranger", "hello"))},
                       &out, 10000),
              0);
    std::size_t row = 0;
    ASSERT_TRUE(waitUntil([&] {
        std::size_t i = 0;
        for (const auto& l : h.dump())
            if (l.rfind("row 0 ", 0) == 0) {
                if (l.find("|hello|") != std::string::npos) {
                    row = i;
                    return true;
                }
                ++i;
            }
        return false;
    })) << out
        << joinLines(h.dump());
    ASSERT_TRUE(h.command("select 0"));
    ASSERT_TRUE(h.command("open " + std::to_string(row)));
    const auto reply = waitPlace(h, "button", esc("返信(&D)"));
    ASSERT_TRUE(reply);
    clickOwn(h, *reply);
    ASSERT_TRUE(waitUntil([&] {
        for (const auto& s : shownWindows(h.dump()))
            if (s.modal && s.className == "QMessageBox")
                return true;
        return false;
    })) << "the message box is open";
    lan->signal(h.pid, SIGTERM);
    expectOrderlyEnd(h);
    EXPECT_TRUE(heardLeave(heard, "host1"));
}

TEST_F(Desktop, TheMainWindowOpensWithItsTitleBarOnTheScreen)
{
    START_DESKTOP(1);
    // A first start: nothing stored, the rectangle is 1, 1, 300, 300 (299 by 299).
    const DrivenHost h = startProgram(1);
    waitTray(h);
    ASSERT_TRUE(h.command("show"));
    std::optional<Shown> main;
    waitDump(h, [&](const auto& d) { return (main = findWindow(d, "CMainFrame")) && main->client.y > main->frame.y; });
    ASSERT_TRUE(main);
    EXPECT_EQ(main->frame.x, 1);
    EXPECT_EQ(main->frame.y, 1) << "the title bar lies on the screen, where it can be grabbed";
    EXPECT_GT(main->client.y, main->frame.y);
    EXPECT_TRUE(main->frame.inside(kScreen)) << main->frame;
    // What is stored is the frame, so the next start puts it back in the same place.
    ASSERT_TRUE(waitUntil([&] {
        main = findWindow(h.dump(), "CMainFrame");
        return main && main->frame.w == 299 && main->frame.h == 299;
    })) << main->frame
        << " client " << main->client;
    exitThroughTrayMenu(h);
    platform::Profile p((h.dir / "config/Orvalink/Orvalink.conf").string());
    EXPECT_EQ(p.getInt("MainWindow Entry", "Left", 0), 1);
    EXPECT_EQ(p.getInt("MainWindow Entry", "top", 0), 1);
    EXPECT_EQ(p.getInt("MainWindow Entry", "Right", 0), 300);
    EXPECT_EQ(p.getInt("MainWindow Entry", "Bottom", 0), 300);
}

TEST_F(Desktop, AnOffScreenWindowComesBackAndWriteWindowsCascadeFromIt)
{
    START_DESKTOP(1);
    // Stored while a larger screen (or a second one) was there.
    const DrivenHost h = startProgram(1, [](platform::Profile& p) {
        p.writeInt("MainWindow Entry", "Left", 3000);
        p.writeInt("MainWindow Entry", "top", 2000);
        p.writeInt("MainWindow Entry", "Right", 3500);
        p.writeInt("MainWindow Entry", "Bottom", 2400);
    });
    waitTray(h);
    ASSERT_TRUE(h.command("show"));
    std::optional<Shown> main;
    waitDump(h, [&](const auto& d) { return (main = findWindow(d, "CMainFrame")) && main->frame.w == 500; });
    ASSERT_TRUE(main);
    EXPECT_TRUE(main->frame.inside(kScreen)) << main->frame;
    EXPECT_EQ(main->frame.h, 400);

    // Two write windows to the group from the tree's menu: each opens a step further from the
    // main window than the one before, on the screen.
    std::vector<Shown> opened;
    for (int k = 0; k < 2; ++k) {
        clickTitleBar(h, *main); // in front of the write window opened before
        const auto node = waitPlace(h, "treenode", "Orvalink(G)");
        ASSERT_TRUE(node);
        clickOwn(h, *node, 3);
        const auto item = waitPlace(h, "popupitem", esc("このグループにメッセージを書く(&W)"));
        ASSERT_TRUE(item) << *node << "\n" << joinLines(h.dump());
        clickOwn(h, *item);
        std::vector<Shown> windows;
        waitDump(h, [&](const auto& d) {
            windows.clear();
            for (const auto& s : shownWindows(d))
                if (s.className == "CSendChatFrame" && s.client.y > s.frame.y)
                    windows.push_back(s);
            return windows.size() == opened.size() + 1;
        });
        ASSERT_EQ(windows.size(), opened.size() + 1);
        for (const auto& w : windows)
            if (std::none_of(opened.begin(), opened.end(),
                             [&](const Shown& o) { return o.frame.x == w.frame.x && o.frame.y == w.frame.y; }))
                opened.push_back(w);
        ASSERT_EQ(opened.size(), static_cast<std::size_t>(k + 1)) << "a new window lies on an open one";
    }
    main = findWindow(h.dump(), "CMainFrame");
    ASSERT_TRUE(main);
    const int step = opened[0].frame.x - main->frame.x;
    EXPECT_GT(step, 0);
    EXPECT_EQ(opened[0].frame.y - main->frame.y, step);
    EXPECT_EQ(opened[1].frame.x - main->frame.x, 2 * step);
    EXPECT_EQ(opened[1].frame.y - main->frame.y, 2 * step);
    for (const auto& w : opened)
        EXPECT_TRUE(w.frame.inside(kScreen)) << w.frame;

    // Typed and sent with the real keyboard and mouse: the message arrives, the window closes.
    clickTitleBar(h, opened[1]);
    clickOwn(h, {opened[1].client.midX(), opened[1].client.midY(), 1, 1});
    ASSERT_FALSE(h.waitForLine([](const std::string& l) { return l == "focus CSendChatView"; }).empty());
    ASSERT_EQ(xdo({"key", "t", "y", "p", "e", "d"}), 0);
    const auto send = waitPlace(h, "button", esc("送信(&S)"), opened[1].client);
    ASSERT_TRUE(send);
    clickOwn(h, *send);
    EXPECT_FALSE(h.waitForLine([](const std::string& l) {
                      return l.rfind("row 0 host1 ", 0) == 0 && l.find("|typed|") != std::string::npos;
                  }).empty())
        << joinLines(h.dump());
    EXPECT_TRUE(waitUntil([&] {
        const auto d = h.dump();
        const auto shown = shownWindows(d);
        return std::count_if(shown.begin(), shown.end(),
                             [](const Shown& s) { return s.className == "CSendChatFrame"; }) == 1;
    }));
    exitThroughTrayMenu(h);
}

TEST_F(Desktop, PortAndMailSettingsOpenAndCloseOverTheWindow)
{
    START_DESKTOP(1);
    const DrivenHost h = startProgram(1);
    waitTray(h);
    ASSERT_TRUE(h.command("show"));
    std::optional<Shown> main;
    waitDump(h, [&](const auto& d) { return (main = findWindow(d, "CMainFrame")) && main->client.y > main->frame.y; });
    ASSERT_TRUE(main);

    // ファイル -> ポート＆ログ(&N) with the keyboard and the mouse; キャンセル closes the sheet.
    clickTitleBar(h, *main);
    key("alt+f");
    const auto item = waitPlace(h, "popupitem", esc("ポート＆ログ(&N)"));
    ASSERT_TRUE(item);
    clickOwn(h, *item);
    const auto sheet = waitWindow(h, "CPortSettingsSheet");
    ASSERT_TRUE(sheet);
    EXPECT_TRUE(sheet->modal);
    EXPECT_EQ(sheet->title, esc("ポート＆ログの設定"));
    auto cancel = waitPlace(h, "button", esc("キャンセル"));
    ASSERT_TRUE(cancel);
    clickOwn(h, *cancel);
    EXPECT_TRUE(waitGone(h, "CPortSettingsSheet"));

    // The mail settings (no menu of this window opens them yet: the command is posted).
    ASSERT_TRUE(h.command("command 32773"));
    ASSERT_TRUE(waitWindow(h, "CMailSettingsSheet"));
    cancel = waitPlace(h, "button", esc("キャンセル"));
    ASSERT_TRUE(cancel);
    clickOwn(h, *cancel);
    EXPECT_TRUE(waitGone(h, "CMailSettingsSheet")) << *cancel << "\n" << joinLines(h.dump());
    EXPECT_TRUE(running(h));

    // A signal while the port settings are open ends the program in order as well.
    clickTitleBar(h, *main);
    key("alt+f");
    const auto again = waitPlace(h, "popupitem", esc("ポート＆ログ(&N)"));
    ASSERT_TRUE(again);
    clickOwn(h, *again);
    ASSERT_TRUE(waitWindow(h, "CPortSettingsSheet"));
    lan->signal(h.pid, SIGTERM);
    expectOrderlyEnd(h);
}

} // namespace

} // namespace orvalink::app
