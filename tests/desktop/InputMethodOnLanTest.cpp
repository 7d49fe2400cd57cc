// Japanese typed through a real input method into the whole program, and what it sends: on the
// desktop suite's X server and window manager, the program runs on host 1 of a simulated LAN under
// a session bus of its own with ibus-daemon and ibus-mozc, or fcitx5 and fcitx5-mozc
// (tests/desktop/ime-session.sh), as nobody since mozc refuses root. Real keys type romaji
// ("nihongo", space, Enter) into the chat write window and into the compose window's body; a raw
// listener on host 2 hears the group message and an SMTP server (aiosmtpd) on host 2 receives the
// mail. Both must carry 日本語: 0x93FA 0x967B 0x8CEA in code page 932 in the datagram, ESC $ B
// "F|K\8l" ESC ( B in the mail's ISO-2022-JP body.

#include "desktop/DesktopHarness.h"

#include <grp.h>
#include <pwd.h>

namespace orvalink::app {

namespace {

// 日本語 in code page 932, and in ISO-2022-JP as the mail carries it.
const std::string kNihongoCp932 = "\x93\xFA\x96\x7B\x8C\xEA";
const std::string kNihongoJis = "\x1b$BF|K\\8l\x1b(B";

std::string sinkScript()
{
    return std::string(ORVALINK_SOURCE_DIR_DEFAULT) + "/tests/support/smtp_sink.py";
}

// Everything under path (path included) now belongs to uid:gid.
void chownAll(const fs::path& path, uid_t uid, gid_t gid)
{
    ASSERT_EQ(::lchown(path.c_str(), uid, gid), 0) << path;
    if (fs::is_directory(path) && !fs::is_symlink(path)) {
        for (const auto& e : fs::recursive_directory_iterator(path))
            ASSERT_EQ(::lchown(e.path().c_str(), uid, gid), 0) << e.path();
    }
}

class InputMethodOnLan : public Desktop, public ::testing::WithParamInterface<const char*> {
protected:
    // Whether the input method this test runs is installed; why not, when it is not.
    static bool installed(const std::string& method, std::string* why)
    {
        const auto any = [](const char* pattern) {
            return std::system(("ls " + std::string(pattern) + " >/dev/null 2>&1").c_str()) == 0;
        };
        if (method == "ibus" && !(onPath("ibus-daemon") && any("/usr/lib/ibus-mozc/ibus-engine-mozc")))
            *why = "ibus with ibus-mozc (Debian packages ibus, ibus-mozc)";
        else if (method == "fcitx5" &&
                 !(onPath("fcitx5") && any("/usr/lib/*/fcitx5/fcitx5-mozc.so") &&
                   any("/usr/lib/*/qt6/plugins/platforminputcontexts/libfcitx5platforminputcontextplugin.so")))
            *why = "fcitx5 with fcitx5-mozc and its Qt 6 front end (fcitx5, fcitx5-mozc, fcitx5-frontend-qt6)";
        return why->empty();
    }

    // The LAN, the desktop on host 1, the listener and the SMTP server on host 2, and the program
    // with the input method on host 1; returns once the main window is shown.
    void startAll()
    {
        std::string why;
        for (const char* tool : {"setpriv", "dbus-run-session", "/usr/bin/python3"})
            if (!onPath(tool) && ::access(tool, X_OK) != 0)
                GTEST_SKIP() << "needs " << tool;
        if (!installed(GetParam(), &why))
            GTEST_SKIP() << "needs " << why;
        const passwd* nobody = ::getpwnam("nobody");
        const group* nogroup = ::getgrnam("nogroup");
        if (!nobody || !nogroup)
            GTEST_SKIP() << "needs the user nobody and the group nogroup";
        startDesktop(2, false);
        if (IsSkipped() || HasFatalFailure())
            return;

        heard = folder.root() / "heard.txt";
        startListener(*lan, 2, heard, 12121, 1000, 100000);
        const fs::path sinkOut = folder.root() / "smtp.out";
        fs::create_directories(sinkDir = folder.root() / "received");
        tools::SimulatedLan::Program sink;
        sink.argv = {"/usr/bin/python3", sinkScript(), sinkDir.string(), "--host", "0.0.0.0", "--port", "25"};
        sink.stdoutPath = sinkOut.string();
        sink.stderrPath = (folder.root() / "smtp.err").string();
        ASSERT_GT(lan->start(2, sink), 0);
        ASSERT_TRUE(waitUntil([&] { return readFile(sinkOut).find("ready\n") != std::string::npos; }, 30000))
            << "aiosmtpd did not start: " << readFile(folder.root() / "smtp.err");

        // The program and the input method run as nobody: the folders they write are theirs, the
        // program and the session script are copies nobody may run wherever the tree lies.
        fs::permissions(folder.root(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                           fs::perms::others_read | fs::perms::others_exec);
        const fs::path program = folder.root() / "orvalink";
        const fs::path session = folder.root() / "ime-session.sh";
        fs::copy_file(programPath(), program);
        fs::copy_file(std::string(ORVALINK_SOURCE_DIR_DEFAULT) + "/tests/desktop/ime-session.sh", session);
        const std::string method = GetParam();
        const uid_t uid = nobody->pw_uid;
        const gid_t gid = nogroup->gr_gid;
        beforeStart = [=](const DrivenHost& h, tools::SimulatedLan::Program& p) {
            fs::create_directories(h.dir / "home");
            chownAll(h.dir, uid, gid);
            p.argv = {"setpriv",
                      "--reuid=nobody",
                      "--regid=nogroup",
                      "--clear-groups",
                      "--",
                      "dbus-run-session",
                      "--",
                      "bash",
                      session.string(),
                      method,
                      (h.dir / "ime.log").string(),
                      program.string()};
            p.env.push_back({"HOME", (h.dir / "home").string()});
        };
        host = startProgram(1, [](platform::Profile& p) {
            p.writeInt("Server Entry", "Count", 1);
            p.writeString("Server Entry", "Server Name1", "home");
            p.writeString("Server Entry", "SMTP Server1", "10.77.0.2");
            p.writeString("Server Entry", "SMTP PortNo1", "25");
            p.writeString("Server Entry", "EMAIL ADRESS1", "hanako@example.jp");
        });
        waitDump(
            host, [&](const auto& d) { return (main = findWindow(d, "CMainFrame")) && main->client.y > main->frame.y; },
            60000);
        ASSERT_TRUE(main) << "the program's window did not come up\n" << log();
    }

    // "nihongo", space (converts), Enter (commits), with real keys into the window that has them.
    void typeNihongo()
    {
        ASSERT_EQ(xdo({"type", "--delay", "100", "nihongo"}), 0);
        ASSERT_EQ(xdo({"sleep", "0.5", "key", "space", "sleep", "1", "key", "Return", "sleep", "1"}), 0);
    }
    // Clicks at r and waits until the widget of class viewClass has the keys.
    void focusAt(const Rect& r, const std::string& viewClass)
    {
        clickOwn(host, r);
        ASSERT_FALSE(host.waitForLine([&](const std::string& l) { return l == "focus " + viewClass; }).empty())
            << viewClass << " does not take the keys\n"
            << joinLines(host.dump());
    }
    // The program runs under the session bus and the input method's script: the process that
    // runs its copy.
    pid_t windowOwner(const DrivenHost&) override
    {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator("/proc", ec))
            if (fs::read_symlink(e.path() / "exe", ec) == folder.root() / "orvalink")
                return static_cast<pid_t>(std::atoi(e.path().filename().c_str()));
        return -1;
    }
    std::string log() const
    {
        return "== input method\n" + readFile(host.dir / "ime.log") + "== program\n" +
               readFile(host.dir / "stderr.log");
    }

    DrivenHost host;
    std::optional<Shown> main;
    fs::path heard, sinkDir;
};

TEST_P(InputMethodOnLan, RomajiTypedInTheWriteWindowAndTheComposeBodyIsSentAsJapanese)
{
    startAll();
    if (IsSkipped() || HasFatalFailure())
        return;

    // The chat write window from the group node's menu; its text gets the keys.
    clickTitleBar(host, *main);
    const auto node = waitPlace(host, "treenode", "Orvalink(G)");
    ASSERT_TRUE(node);
    clickOwn(host, *node, 3);
    const auto item = waitPlace(host, "popupitem", esc("このグループにメッセージを書く(&W)"));
    ASSERT_TRUE(item) << joinLines(host.dump());
    clickOwn(host, *item);
    std::optional<Shown> write;
    waitDump(host, [&](const auto& d) {
        return (write = findWindow(d, "CSendChatFrame")) && write->client.y > write->frame.y;
    });
    ASSERT_TRUE(write);
    focusAt({write->client.midX(), write->client.midY(), 1, 1}, "CSendChatView");
    typeNihongo();
    const auto send = waitPlace(host, "button", esc("送信(&S)"), write->client);
    ASSERT_TRUE(send);
    clickOwn(host, *send);
    // Exactly the converted text, no reading and no line end: the datagram is the one a group
    // message of 日本語 is.
    const std::string expected = platform::escapeBytes(chat::buildGroupMessage("host1", kNihongoCp932));
    const auto endsWithExpected = [&] {
        const auto heardNow = datagrams(heard);
        return std::any_of(heardNow.begin(), heardNow.end(), [&](const std::string& d) {
            return d.size() >= expected.size() && d.compare(d.size() - expected.size(), expected.size(), expected) == 0;
        });
    };
    EXPECT_TRUE(waitUntil(endsWithExpected, 20000)) << "heard:\n" << readFile(heard) << log();

    // The compose window (the new-mail command); the body gets the keys.
    ASSERT_TRUE(host.command("command 32776"));
    std::optional<Shown> compose;
    waitDump(host, [&](const auto& d) {
        return (compose = findWindow(d, "CSendFrame")) && compose->client.y > compose->frame.y;
    });
    ASSERT_TRUE(compose) << joinLines(host.dump());
    ASSERT_TRUE(host.command("mail 0 to taro@example.jp"));
    ASSERT_TRUE(host.command("mail 0 subject test"));
    clickTitleBar(host, *compose);
    focusAt({compose->client.midX(), compose->client.y + compose->client.h * 3 / 4, 1, 1}, "CSendView");
    typeNihongo();
    ASSERT_FALSE(host.waitForLine([&](const std::string& l) {
                         return l == "compose 0 0|hanako@example.jp|taro@example.jp|test|" +
                                         platform::escapeBytes(kNihongoCp932);
                     })
                     .empty())
        << "the body does not hold 日本語 alone\n"
        << joinLines(host.dump()) << log();
    ASSERT_TRUE(host.command("mailcommand 0 32782"));
    ASSERT_TRUE(waitUntil([&] { return fs::exists(sinkDir / "mail-000001.env"); }, 30000)) << log();
    const std::string mail = readFile(sinkDir / "mail-000001.eml");
    const std::size_t split = mail.find("\r\n\r\n");
    ASSERT_NE(split, std::string::npos) << mail;
    EXPECT_EQ(mail.substr(split + 4), kNihongoJis + "\r\n");
    EXPECT_NE(mail.find("charset=ISO-2022-JP\r\n"), std::string::npos) << mail.substr(0, split);
}

INSTANTIATE_TEST_SUITE_P(Methods, InputMethodOnLan, ::testing::Values("ibus", "fcitx5"),
                         [](const auto& param) { return std::string(param.param); });

} // namespace

} // namespace orvalink::app
