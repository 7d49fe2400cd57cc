#pragma once

// The desktop suite's harness: a simulated LAN whose host 1 runs a real X server (Xvfb) and a window
// manager with or without a tray (icewm); the program on a host, driven with xdotool and watched
// through its automation channel's dump (where its windows, buttons and menu items are).
// Everything started is ended by pid when the LAN goes, also when a test fails.

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

inline std::string esc(const char* utf8)
{
    return platform::escapeBytes(platform::utf8ToCp932(utf8));
}

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
    int midX() const { return x + w / 2; }
    int midY() const { return y + h / 2; }
    bool inside(const Rect& o) const { return x >= o.x && y >= o.y && x + w <= o.x + o.w && y + h <= o.y + o.h; }
};
inline std::ostream& operator<<(std::ostream& out, const Rect& r)
{
    return out << r.x << "," << r.y << " " << r.w << "x" << r.h;
}

inline const Rect kScreen{0, 0, 1280, 1024};

inline std::vector<std::string> words(const std::string& line)
{
    std::vector<std::string> v;
    std::istringstream in(line);
    for (std::string w; in >> w;)
        v.push_back(w);
    return v;
}

// The rectangle in the four words from `at`.
inline Rect rectAt(const std::vector<std::string>& w, std::size_t at)
{
    return {std::stoi(w[at]), std::stoi(w[at + 1]), std::stoi(w[at + 2]), std::stoi(w[at + 3])};
}

// The words between the kind and the last `numbers` words, joined again (a label may hold spaces).
inline std::string labelOf(const std::vector<std::string>& w, std::size_t numbers)
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

inline std::vector<Shown> shownWindows(const std::vector<std::string>& dump)
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
        if (w.size() < 10) // the title may be empty
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
inline std::optional<Rect> placeOf(const std::vector<std::string>& dump, const std::string& kind,
                                   const std::string& label, std::optional<Rect> within = std::nullopt)
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

inline std::string describeStatus(int status)
{
    if (WIFEXITED(status))
        return "exit code " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "signal " + std::to_string(WTERMSIG(status));
    return "status " + std::to_string(status);
}

inline bool onPath(const std::string& program)
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
        if (beforeStart)
            beforeStart(h, program);
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
        if (xdo({"search", "--onlyvisible", "--pid", std::to_string(windowOwner(h))}, &ids) != 0)
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
    // The process whose windows are the program's (the one started, unless it starts the program).
    virtual pid_t windowOwner(const DrivenHost& h) { return h.pid; }
    // Changes how startProgram starts the program (the folder and its settings are written).
    std::function<void(const DrivenHost&, tools::SimulatedLan::Program&)> beforeStart;
};

} // namespace orvalink::app
