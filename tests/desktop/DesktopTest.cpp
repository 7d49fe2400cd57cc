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

#include "app/ProgramOnLan.h"
#include "chat/wire/ChatDatagram.h"
#include "platform/text/Cp932.h"

#include <algorithm>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

namespace orvalink::app {

namespace {

std::string esc(const char* utf8)
{
    return platform::escapeBytes(platform::utf8ToCp932(utf8));
}

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
    int midX() const { return x + w / 2; }
    int midY() const { return y + h / 2; }
    bool inside(const Rect& o) const { return x >= o.x && y >= o.y && x + w <= o.x + o.w && y + h <= o.y + o.h; }
};
std::ostream& operator<<(std::ostream& out, const Rect& r)
{
    return out << r.x << "," << r.y << " " << r.w << "x" << r.h;
}

const Rect kScreen{0, 0, 1280, 1024};

std::vector<std::string> words(const std::string& line)
{
    std::vector<std::string> v;
    std::istringstream in(line);
    for (std::string w; in >> w;)
        v.push_back(w);
    return v;
}

// The rectangle in the four words from `at`.
Rect rectAt(const std::vector<std::string>& w, std::size_t at)
{
    return {std::stoi(w[at]), std::stoi(w[at + 1]), std::stoi(w[at + 2]), std::stoi(w[at + 3])};
}

// The words between the kind and the last `numbers` words, joined again (a label may hold spaces).
std::string labelOf(const std::vector<std::string>& w, std::size_t numbers)
{
    std::string s;
    for (std::size_t i = 1; i + numbers < w.size(); ++i)
        s += (s.empty() ? "" : " ") + w[i];
    return s;
}

// A shown top-level window: "toplevel CLASS TITLE frame(4) client(4) [modal]".
struct Shown {
    std::string className, title;
    Rect frame, client;
    bool modal = false;
    bool active = false; // takes the keys
};

std::vector<Shown> shownWindows(const std::vector<std::string>& dump)
{
    std::vector<Shown> v;
    for (const auto& line : dump) {
        auto w = words(line);
        if (w.empty() || w[0] != "toplevel")
            continue;
        Shown s;
        if (w.back() == "active") {
            s.active = true;
            w.pop_back();
        }
        if (w.back() == "modal") {
            s.modal = true;
            w.pop_back();
        }
        if (w.size() < 11)
            continue;
        s.className = w[1];
        s.frame = rectAt(w, w.size() - 8);
        s.client = rectAt(w, w.size() - 4);
        for (std::size_t i = 2; i + 8 < w.size(); ++i)
            s.title += (s.title.empty() ? "" : " ") + w[i];
        v.push_back(s);
    }
    return v;
}

// "KIND LABEL x y w h" lines (button, popupitem, treenode), within a window's rectangle when given.
std::optional<Rect> placeOf(const std::vector<std::string>& dump, const std::string& kind, const std::string& label,
                            std::optional<Rect> within = std::nullopt)
{
    for (const auto& line : dump) {
        const auto w = words(line);
        if (w.size() >= 5 && w[0] == kind && labelOf(w, 4) == label) {
            const Rect r = rectAt(w, w.size() - 4);
            if (!within || r.inside(*within))
                return r;
        }
    }
    return std::nullopt;
}

std::string describeStatus(int status)
{
    if (WIFEXITED(status))
        return "exit code " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "signal " + std::to_string(WTERMSIG(status));
    return "status " + std::to_string(status);
}

bool onPath(const std::string& program)
{
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "");
    for (std::string d; std::getline(dirs, d, ':');)
        if (!d.empty() && ::access((d + "/" + program).c_str(), X_OK) == 0)
            return true;
    return false;
}

// Set-up that skipped or failed ends the test there: the body would otherwise go on with no LAN.
#define START_DESKTOP(...)                                                                                             \
    do {                                                                                                               \
        startDesktop(__VA_ARGS__);                                                                                     \
        if (IsSkipped() || HasFatalFailure())                                                                          \
            return;                                                                                                    \
    } while (0)

class Desktop : public ::testing::Test {
protected:
    // Hosts 1..hostCount on a simulated LAN; the X server and the window manager, with or without
    // its tray, on host 1. Returns once the window manager (and its tray) take windows.
    void startDesktop(int hostCount, bool withTray = true)
    {
        std::string why;
        if (!tools::SimulatedLan::available(&why))
            GTEST_SKIP() << "needs a simulated LAN: " << why;
        for (const char* tool : {"Xvfb", "icewm", "xdotool"})
            if (!onPath(tool))
                GTEST_SKIP() << "needs " << tool << " (Debian packages xvfb, icewm, xdotool)";
        lan = std::make_unique<tools::SimulatedLan>(hostCount);
        lan->setGracePeriod(8000);

        // An X server on a display number of our own: one that -displayfd chose could be chosen by
        // a test starting beside this one too, whose server would take its socket file away. A
        // number in use is refused by the server (its lock file), and the next is tried; the
        // number is written once the server takes clients.
        std::string error;
        for (int attempt = 0; attempt < 20 && display.empty(); ++attempt) {
            const int number = 100 + (static_cast<int>(::getpid()) * 7 + attempt * 31) % 800;
            const fs::path displayFile = folder.root() / ("display" + std::to_string(attempt));
            tools::SimulatedLan::Program x;
            x.argv = {
                "Xvfb",        ":" + std::to_string(number), "-displayfd", "1", "-nolisten", "tcp", "-screen", "0",
                "1280x1024x24"};
            x.stdoutPath = displayFile.string();
            x.stderrPath = (folder.root() / "xvfb.log").string();
            const pid_t server = lan->start(1, x, &error);
            ASSERT_GT(server, 0) << error;
            waitUntil(
                [&] {
                    const std::string t = readFile(displayFile);
                    return (!t.empty() && t.back() == '\n') || lan->waitExit(server, 0);
                },
                20000);
            if (!lan->waitExit(server, 0) && !readFile(displayFile).empty())
                display = ":" + std::to_string(number);
        }
        ASSERT_FALSE(display.empty()) << "no X server came up: " << readFile(folder.root() / "xvfb.log");
        // Clients may connect once it answers one.
        ASSERT_TRUE(orvalink::test::waitUntil([&] { return xdo({"getdisplaygeometry"}) == 0; }, 20000, 50))
            << "the X server at " << display << " takes no clients";

        // The window manager, with preferences of its own (no user's settings).
        const fs::path home = folder.root() / "home";
        fs::create_directories(home / ".icewm");
        orvalink::test::writeFile(home / ".icewm/preferences", withTray ? "" : "TaskBarEnableSystemTray=0\n");
        tools::SimulatedLan::Program wm;
        wm.argv = {"icewm"};
        wm.env = {{"DISPLAY", display}, {"HOME", home.string()}};
        wm.stdoutPath = wm.stderrPath = (folder.root() / "icewm.log").string();
        // It has taken the screen once it has named its workspaces. Now and then it cannot open a
        // display that other clients already use and ends at once: it is started again then.
        bool managed = false;
        for (int attempt = 0; attempt < 3 && !managed; ++attempt) {
            const pid_t manager = lan->start(1, wm, &error);
            ASSERT_GT(manager, 0) << error;
            orvalink::test::waitUntil(
                [&] { return (managed = xdo({"get_num_desktops"}) == 0) || lan->waitExit(manager, 0); }, 20000, 100);
        }
        ASSERT_TRUE(managed) << readFile(folder.root() / "icewm.log");
        if (withTray) {
            std::string out;
            ASSERT_EQ(lan->run(1,
                               {"env", "DISPLAY=" + display, "QT_QPA_PLATFORM=xcb",
                                "DBUS_SESSION_BUS_ADDRESS=", buildDir() + "/tests/desktop/orvalink-trayprobe", "20000"},
                               &out, 30000),
                      0)
                << "the window manager's tray did not come up";
        }
    }

    // The program on host k in group "G" (port 12121) as "hostK"; configure adds settings.
    DrivenHost startProgram(int k, const std::function<void(platform::Profile&)>& configure = {})
    {
        DrivenHost h;
        h.dir = folder.host(k);
        ::mkfifo(h.fifo().c_str(), 0600);
        const fs::path runtime = h.dir / "runtime";
        fs::create_directories(runtime);
        fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
        {
            platform::Profile p((h.dir / "config/Orvalink/Orvalink.conf").string());
            p.writeInt("NetMsg Entry", "User PortCnt", 1);
            p.writeString("NetMsg Entry", "User Port1", "12121");
            p.writeString("NetMsg Entry", "User PortName1", "G");
            p.writeString("NetMsg Entry", "User Name1", "host" + std::to_string(k));
            if (configure)
                configure(p);
        }
        tools::SimulatedLan::Program program;
        program.argv = {programPath()};
        program.env = {{"DISPLAY", display},
                       {"QT_QPA_PLATFORM", "xcb"},
                       {"XDG_CONFIG_HOME", (h.dir / "config").string()},
                       {"XDG_RUNTIME_DIR", runtime.string()},
                       {"DBUS_SESSION_BUS_ADDRESS", ""},
                       {"ORVALINK_MESSAGEBOX_LOG", ""},
                       {"ORVALINK_AUTOMATION", h.fifo().string()}};
        program.workDir = h.dir.string();
        program.stdoutPath = (h.dir / "stdout.log").string();
        program.stderrPath = (h.dir / "stderr.log").string();
        std::string error;
        h.pid = lan->start(k, program, &error);
        EXPECT_GT(h.pid, 0) << error;
        return h;
    }

    // xdotool on the test's display; its exit code.
    int xdo(std::vector<std::string> args, std::string* out = nullptr)
    {
        args.insert(args.begin(), {"env", "DISPLAY=" + display, "xdotool"});
        std::string ignored;
        return lan->run(1, args, out ? out : &ignored, 10000);
    }
    void click(const Rect& r, int button = 1, int count = 1)
    {
        ASSERT_EQ(xdo({"mousemove", std::to_string(r.midX()), std::to_string(r.midY()), "click", "--repeat",
                       std::to_string(count), "--delay", "60", std::to_string(button)}),
                  0);
    }
    // Whether the X server shows a window of the program (mapped and viewable) over the middle of
    // r: a tray icon, menu or window that has just been mapped may not take the pointer yet.
    bool shownAt(const DrivenHost& h, const Rect& r, std::string* windows = nullptr)
    {
        auto value = [](const std::string& shell, const std::string& name) {
            const auto at = shell.find(name + "=");
            return at == std::string::npos ? -100000 : std::atoi(shell.c_str() + at + name.size() + 1);
        };
        std::string ids;
        if (xdo({"search", "--onlyvisible", "--pid", std::to_string(h.pid)}, &ids) != 0)
            return false;
        if (windows)
            *windows = ids;
        for (const auto& id : words(ids)) {
            std::string g;
            if (xdo({"getwindowgeometry", "--shell", id}, &g) != 0)
                continue;
            const Rect w{value(g, "X"), value(g, "Y"), value(g, "WIDTH"), value(g, "HEIGHT")};
            if (Rect{r.midX(), r.midY(), 1, 1}.inside(w))
                return true;
        }
        return false;
    }
    void pointAt(const DrivenHost& h, const Rect& r)
    {
        std::string ids;
        ASSERT_TRUE(orvalink::test::waitUntil([&] { return shownAt(h, r, &ids); }, 15000, 50))
            << "no window of the program is shown at " << r << " (windows " << ids << ")";
    }
    void clickOwn(const DrivenHost& h, const Rect& r, int button = 1, int count = 1)
    {
        pointAt(h, r);
        click(r, button, count);
    }
    // Two clicks closer than the double-click interval (400 ms unless the desktop says otherwise)
    // are one gesture: a test that means two clicks waits that long between them.
    void separateClicks() { ASSERT_EQ(xdo({"sleep", "0.6"}), 0); }
    void key(const std::string& keys) { ASSERT_EQ(xdo({"key", keys}), 0); }

    // Waits until the dump satisfies pred; the last dump.
    static std::vector<std::string> waitDump(const DrivenHost& h,
                                             const std::function<bool(const std::vector<std::string>&)>& pred,
                                             int timeoutMs = 15000)
    {
        std::vector<std::string> d;
        waitUntil(
            [&] {
                d = h.dump();
                return pred(d);
            },
            timeoutMs);
        return d;
    }
    // Where a button or menu item is, once it stays there: a window that has just opened may still
    // be moved by the window manager.
    static std::optional<Rect> waitPlace(const DrivenHost& h, const std::string& kind, const std::string& label,
                                         std::optional<Rect> within = std::nullopt)
    {
        std::optional<Rect> r, before;
        waitDump(h, [&](const auto& d) {
            before = r;
            r = placeOf(d, kind, label, within);
            return r && before && r->x == before->x && r->y == before->y && r->w == before->w;
        });
        return r;
    }
    static std::optional<Shown> findWindow(const std::vector<std::string>& dump, const std::string& className)
    {
        for (const auto& s : shownWindows(dump))
            if (s.className == className)
                return s;
        return std::nullopt;
    }
    static std::optional<Shown> waitWindow(const DrivenHost& h, const std::string& className)
    {
        std::optional<Shown> s;
        waitDump(h, [&](const auto& d) { return (s = findWindow(d, className)).has_value(); });
        return s;
    }
    static bool waitGone(const DrivenHost& h, const std::string& className)
    {
        return !findWindow(waitDump(h, [&](const auto& d) { return !findWindow(d, className); }), className);
    }
    // The tray icon, once it sits in the tray: where the program says it is, the X server shows it.
    Rect waitTray(const DrivenHost& h)
    {
        Rect tray;
        waitDump(h, [&](const auto& d) {
            tray = {};
            for (const auto& line : d) {
                const auto w = words(line);
                if (w.size() == 5 && w[0] == "tray")
                    tray = rectAt(w, 1);
            }
            return tray.w > 0 && tray.inside(kScreen) && shownAt(h, tray);
        });
        return tray;
    }

    // A raw listener on host 2 that keeps what the program sends for the rest of the test.
    fs::path listenOnHost2()
    {
        const fs::path heard = folder.root() / "heard.txt";
        startListener(*lan, 2, heard, 12121, 1000, 100000);
        return heard;
    }
    static bool heardLeave(const fs::path& heard, const std::string& name)
    {
        return waitUntil([&] {
            for (const auto& d : datagrams(heard))
                if (d.find(platform::escapeBytes(chat::buildLeave(name))) != std::string::npos)
                    return true;
            return false;
        });
    }
    // Waits for the program's end, which must be an orderly one.
    void expectOrderlyEnd(const DrivenHost& h)
    {
        int status = -1;
        ASSERT_TRUE(lan->waitExit(h.pid, 30000, &status)) << "the program did not end";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << describeStatus(status) << "\n"
                                                                   << readFile(h.dir / "stderr.log");
    }
    bool running(const DrivenHost& h) { return !lan->waitExit(h.pid, 0); }
    // The close box at the right end of the title bar (the band between frame and client tops).
    void clickCloseBox(const Shown& s)
    {
        const int title = s.client.y - s.frame.y;
        ASSERT_GT(title, 4) << "no title bar above " << s.client;
        click({s.frame.x + s.frame.w - title, s.frame.y + 2, title - 4, title - 4});
    }
    // The middle of the title bar: the window comes to the front and takes the keys.
    void clickTitleBar(const DrivenHost& h, const Shown& s)
    {
        click({s.frame.midX(), s.frame.y + (s.client.y - s.frame.y) / 2, 1, 1});
        ASSERT_TRUE(waitUntil([&] {
            for (const auto& w : shownWindows(h.dump()))
                if (w.className == s.className && w.frame.x == s.frame.x && w.frame.y == s.frame.y)
                    return w.active;
            return false;
        })) << s.className
            << " does not take the keys";
    }
    void exitThroughTrayMenu(const DrivenHost& h)
    {
        clickOwn(h, waitTray(h), 3);
        const auto item = waitPlace(h, "popupitem", esc("終了(&X)"));
        ASSERT_TRUE(item);
        clickOwn(h, *item);
        expectOrderlyEnd(h);
    }

    TestFolder folder;
    std::unique_ptr<tools::SimulatedLan> lan;
    std::string display;
};

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
