#include "chat/CNetMsgDlg.h"
#include "chat/CNetMsgThread.h"
#include "chat/CNewPortDlg.h"
#include "chat/CPortPage.h"
#include "chat/CPortSettingsSheet.h"
#include "chat/CSendChatFrame.h"
#include "chat/CSendChatThread.h"
#include "chat/CSendChatView.h"
#include "chat/ChatGroupObserver.h"
#include "chat/ChatReceiver.h"
#include "chat/ChatTestSupport.h"
#include "chat/ChatWriteOpeners.h"
#include "chat/wire/ChatDatagram.h"
#include "platform/Dispatch.h"
#include "platform/Messages.h"
#include "platform/TextCodec.h"
#include "platform/text/Cp932.h"
#include "support/PrivateNetwork.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <vector>

namespace orvalink::chat {

using platform::WM_CHAT_SEND_GROUP;

namespace {

constexpr const char* kNetMsg = "NetMsg Entry";

std::string sj(const char* utf8)
{
    return platform::utf8ToCp932(utf8);
}

// The folder tree as the chat side sees it: every call recorded.
class RecordingTree : public ChatGroupObserver {
public:
    void memberAdded(int group, std::string_view name) override
    {
        calls.push_back("addMember " + std::to_string(group) + " " + std::string(name));
    }
    void memberRemoved(int group, std::string_view name) override
    {
        calls.push_back("removeMember " + std::to_string(group) + " " + std::string(name));
    }
    void groupAdded(int group) override { calls.push_back("addGroupNode " + std::to_string(group)); }
    void groupRemoved(int group) override { calls.push_back("removeGroupNode " + std::to_string(group)); }
    std::vector<std::string> calls;
};

struct NewGroup {
    std::string port, groupName, name;
};

class PortSettings : public ::testing::Test {
protected:
    void SetUp() override
    {
        ORVALINK_REQUIRE_PRIVATE_NETWORK();
        m_oldDir = QDir::currentPath();
        QDir::setCurrent(QString::fromStdString(sandbox.path()));
        sandbox.chatTable.setReceiver(&sink);
        sandbox.chatTable.addObserver(tree);
    }
    void TearDown() override
    {
        CNewPortDlg::setResponder({});
        platform::setFolderPickerResponder({});
        chat::closeAllWindows(sandbox.chatTable);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (int g = 0; g < sandbox.chatTable.groupCount; ++g)
            sandbox.chatTable.stopListener(g, false);
        sandbox.chatTable.setReceiver(nullptr);
        if (!m_oldDir.isEmpty())
            QDir::setCurrent(m_oldDir);
    }

    // Groups as the store and the table hold them after start-up, each listening.
    void startGroups(const std::vector<NewGroup>& groups)
    {
        auto& p = platform::Profile::application();
        p.writeInt(kNetMsg, "User PortCnt", static_cast<int>(groups.size()));
        for (std::size_t i = 0; i < groups.size(); ++i) {
            const std::string n = std::to_string(i + 1);
            p.writeString(kNetMsg, "User Port" + n, groups[i].port);
            p.writeString(kNetMsg, "User PortName" + n, groups[i].groupName);
            p.writeString(kNetMsg, "User Name" + n, groups[i].name);
            configureGroup(sandbox.chatTable, static_cast<int>(i), groups[i].port, groups[i].groupName, groups[i].name);
            sandbox.chatTable.startListener(static_cast<int>(i));
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return arrivals.size() >= 2 * groups.size(); }, 5000));
        // Then a marker through each group's socket: what start-up sent there (the reply to its
        // own join as well) has been handed on once the marker has. It comes from a port that is
        // no group's, so the receiver ignores it.
        RawPeer peer(0);
        for (const auto& g : groups) {
            const std::string marker = "WR1#marker#C#" + g.port;
            ASSERT_TRUE(peer.sendTo("0001#0001#" + marker, orvalink::test::kPrivateHostAddress,
                                    static_cast<unsigned short>(std::stoi(g.port))));
            ASSERT_TRUE(QTest::qWaitFor(
                [&] {
                    return std::any_of(arrivals.begin(), arrivals.end(),
                                       [&](const Arrival& a) { return a.text == marker; });
                },
                5000));
        }
        arrivals.clear();
        tree.calls.clear();
    }
    // The next new-group dialog is filled in and OK pressed once; then it is cancelled if still open.
    void answerNewGroup(const NewGroup& g)
    {
        CNewPortDlg::setResponder([g](CNewPortDlg& dlg) {
            dlg.portEdit()->setText(platform::toQString(g.port));
            dlg.groupNameEdit()->setText(platform::toQString(g.groupName));
            dlg.nameEdit()->setText(platform::toQString(g.name));
            return dlg.tryAccept() ? int(QDialog::Accepted) : int(QDialog::Rejected);
        });
    }
    static std::string stored(const std::string& key)
    {
        return platform::Profile::application().getString(kNetMsg, key);
    }
    static int storedCount() { return platform::Profile::application().getInt(kNetMsg, "User PortCnt", -1); }
    static std::vector<std::string> listed(const CPortPage& page)
    {
        std::vector<std::string> v;
        for (int i = 0; i < page.portList()->count(); ++i)
            v.push_back(platform::fromQString(page.portList()->item(i)->text()));
        return v;
    }
    bool heardOn(unsigned port, const std::string& text)
    {
        return QTest::qWaitFor(
            [&] {
                return std::any_of(arrivals.begin(), arrivals.end(),
                                   [&](const Arrival& a) { return a.port == port && a.text == text; });
            },
            5000);
    }

    struct Arrival {
        int group;
        unsigned port;
        std::string text;
    };
    ProfileSandbox sandbox;
    platform::MessageBoxRecorder boxes;
    RecordingTree tree;
    std::unique_ptr<ChatReceiver::GroupIo> io = ChatReceiver::makeListenerIo(sandbox.chatTable);
    ChatReceiver receiver{*io, sandbox.chatTable};
    std::vector<Arrival> arrivals;
    // Every text is recorded with its group, then received by the port's group.
    TextSink sink{[this](int g, std::string_view text, const std::string& a, unsigned p) {
        arrivals.push_back({g, p, std::string(text)});
        receiver.handle(text, a, p);
    }};

private:
    QString m_oldDir;
};

TEST_F(PortSettings, OpeningWithoutLogFolderStoresAndCreatesChatLogInTheWorkingDirectory)
{
    startGroups({{"12121", "A", "me"}});
    CPortPage page(sandbox.chatTable);
    const std::string expected = sandbox.path() + "/ChatLog";
    EXPECT_EQ(stored("Log Folder"), expected);
    EXPECT_TRUE(std::filesystem::is_directory(expected));
    EXPECT_EQ(platform::fromQString(page.logFolderLabel()->text()), expected);
    EXPECT_FALSE(page.logCheck()->isChecked());
    EXPECT_EQ(listed(page), std::vector<std::string>{"12121"});
    EXPECT_EQ(page.groupNameEdit()->text(), "A");
    EXPECT_EQ(page.nameEdit()->text(), "me");
    EXPECT_FALSE(page.groupNameButton()->isEnabled());
    EXPECT_FALSE(page.nameButton()->isEnabled());
}

TEST_F(PortSettings, RegisteringAGroupStoresItAddsItsNodeAndListensAtOnce)
{
    const struct {
        std::string port;
    } cases[] = {{"12122"}, {"012122"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.port);
        startGroups({{"12121", "A", "me"}});
        CPortPage page(sandbox.chatTable);
        answerNewGroup({c.port, "B", "me2"});
        page.registerGroup();

        EXPECT_TRUE(boxes.calls().empty());
        EXPECT_EQ(listed(page), (std::vector<std::string>{"12121", c.port}));
        EXPECT_EQ(storedCount(), 2);
        EXPECT_EQ(stored("User Port2"), c.port); // as typed
        EXPECT_EQ(stored("User PortName2"), "B");
        EXPECT_EQ(stored("User Name2"), "me2");
        EXPECT_EQ(tree.calls, std::vector<std::string>{"addGroupNode 1"});
        ASSERT_EQ(sandbox.chatTable.groupCount, 2);
        ASSERT_NE(sandbox.chatTable.listener(1), nullptr);
        EXPECT_TRUE(heardOn(12122, "ON #me2#N#"));
        EXPECT_TRUE(heardOn(12122, "ON #me2#C#"));
        // The new group's own announcement made it a member there.
        EXPECT_TRUE(QTest::qWaitFor([this] { return sandbox.chatTable.groups[1].members.size() == 1; }, 5000));

        for (int g = 0; g < sandbox.chatTable.groupCount; ++g)
            sandbox.chatTable.stopListener(g, false);
        sandbox.chatTable.groupCount = 0;
        arrivals.clear();
    }
}

TEST_F(PortSettings, NewGroupChecksRefuseWithTheirMessagesAndStoreNothing)
{
    startGroups({{"12121", "A", "me"}});
    const struct {
        NewGroup input;
        std::string message;
    } cases[] = {
        {{"", "B", "n"}, sj("ポート番号が間違っています")},
        {{"abc", "B", "n"}, sj("ポート番号が間違っています")},
        {{"0", "B", "n"}, sj("ポート番号が間違っています")},
        {{"65536", "B", "n"}, sj("ポート番号が間違っています")},
        {{"99999999999", "B", "n"}, sj("ポート番号が間違っています")},
        // A typed port is digits only: these read as ports 1 and 12122 when stored.
        {{"1e4", "B", "n"}, sj("ポート番号が間違っています")},
        {{"12122abc", "B", "n"}, sj("ポート番号が間違っています")},
        {{" 12122", "B", "n"}, sj("ポート番号が間違っています")},
        {{"12122", "", "n"}, sj("グループ名を入力してください")},
        {{"12122", "B", ""}, sj("名前を入力ください")},
        {{"", "", ""}, sj("ポート番号が間違っています")}, // checked in this order
        {{"12122", "B", "a#b"}, CNewPortDlg::hashInNameText()},
        {{"12121", "B", "n"}, CNewPortDlg::portInUseText()},
        {{"012121", "B", "n"}, CNewPortDlg::portInUseText()},
    };
    CPortPage page(sandbox.chatTable);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input.port + "|" + c.input.groupName + "|" + c.input.name);
        platform::MessageBoxRecorder local;
        answerNewGroup(c.input);
        page.registerGroup();
        ASSERT_EQ(local.calls().size(), 1u);
        EXPECT_EQ(local.calls()[0].text, c.message);
        EXPECT_EQ(local.calls()[0].caption, "Orvalink");
        EXPECT_EQ(storedCount(), 1);
        EXPECT_FALSE(platform::Profile::application().contains(kNetMsg, "User Port2"));
        EXPECT_EQ(sandbox.chatTable.groupCount, 1);
        EXPECT_EQ(page.portList()->count(), 1);
    }
    EXPECT_TRUE(tree.calls.empty());

    // A dialog cancelled without a word.
    CNewPortDlg::setResponder([](CNewPortDlg&) { return int(QDialog::Rejected); });
    page.registerGroup();
    EXPECT_EQ(storedCount(), 1);
}

TEST_F(PortSettings, HundredAndFirstGroupIsRefused)
{
    startGroups({{"12121", "A", "me"}});
    CPortPage page(sandbox.chatTable);
    sandbox.chatTable.groupCount = kMaxChatGroups; // as if the table were full
    bool asked = false;
    CNewPortDlg::setResponder([&](CNewPortDlg&) {
        asked = true;
        return int(QDialog::Accepted);
    });
    page.registerGroup();
    sandbox.chatTable.groupCount = 1;
    EXPECT_FALSE(asked);
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(boxes.calls()[0].text, CPortPage::tooManyGroupsText());
    EXPECT_EQ(storedCount(), 1);
}

TEST_F(PortSettings, DeletingTheFirstOfThreeMovesTheOthersDownEverywhere)
{
    startGroups({{"12121", "A", "a"}, {"12122", "B", "b"}, {"12123", "C", "c"}});
    ChatGroupTable& table = sandbox.chatTable;
    table.groups[1].members = {"10.0.0.2#12122#x"};
    table.groups[2].rows = {{"c1", 18, "row of C", chat::RowKind::Message, true}};
    CSendChatThread* writeToA = chat::openWriteToGroup(sandbox.chatTable, 0);
    CSendChatThread* writeToC = chat::openWriteToGroup(sandbox.chatTable, 2);
    ASSERT_TRUE(writeToA && writeToC);
    CNetMsgThread* listenerB = table.listener(1);
    CNetMsgThread* listenerC = table.listener(2);

    CPortPage page(sandbox.chatTable);
    // A name change of C pending for the next start moves with it in the store.
    page.selectItem(2);
    page.nameEdit()->setText("c2");
    page.changeDisplayName();
    page.selectItem(0);
    platform::MessageBoxRecorder answers({platform::IDOK});
    page.deleteSelected();

    ASSERT_EQ(answers.calls().size(), 1u);
    EXPECT_EQ(answers.calls()[0].text, sj("本当に削除しますか？"));
    EXPECT_EQ(answers.calls()[0].caption, sj("メッセージ"));
    EXPECT_EQ(answers.calls()[0].type & 0xF, platform::MB_OKCANCEL);

    // The store: count 2, former 2 and 3 as 1 and 2, the keys with suffix 3 left behind.
    EXPECT_EQ(storedCount(), 2);
    EXPECT_EQ(stored("User Port1"), "12122");
    EXPECT_EQ(stored("User PortName1"), "B");
    EXPECT_EQ(stored("User Name1"), "b");
    EXPECT_EQ(stored("User Port2"), "12123");
    EXPECT_EQ(stored("User PortName2"), "C");
    EXPECT_EQ(stored("User Name2"), "c2");
    EXPECT_EQ(stored("User Port3"), "12123");
    EXPECT_EQ(stored("User Name3"), "c2");

    // The table: groups, listeners (renumbered), members and rows moved.
    ASSERT_EQ(table.groupCount, 2);
    EXPECT_EQ(table.groups[0].port, "12122");
    EXPECT_EQ(table.groups[1].port, "12123");
    EXPECT_EQ(table.groups[1].displayName, "c"); // the change waits for the next start
    EXPECT_EQ(table.listener(0), listenerB);
    EXPECT_EQ(table.listener(1), listenerC);
    EXPECT_EQ(listenerB->groupIndex(), 0);
    EXPECT_EQ(listenerC->window()->groupIndex(), 1);
    EXPECT_EQ(table.groups[0].members, std::vector<std::string>{"10.0.0.2#12122#x"});
    ASSERT_EQ(table.groups[1].rows.size(), 1u);
    EXPECT_EQ(table.groups[1].rows[0].body, "row of C");
    EXPECT_TRUE(table.groups[2].port.empty() && table.listener(2) == nullptr);
    EXPECT_EQ(writeToA->groupIndex(), -1);
    EXPECT_EQ(writeToC->groupIndex(), 1);
    EXPECT_EQ(tree.calls, std::vector<std::string>{"removeGroupNode 0"});

    // The page: the item gone, the group now in its place selected.
    EXPECT_EQ(listed(page), (std::vector<std::string>{"12122", "12123"}));
    EXPECT_EQ(page.portList()->currentRow(), 0);
    EXPECT_EQ(page.groupNameEdit()->text(), "B");

    // A message arriving afterwards lands in its own group: C's listener, renumbered, sends one
    // from C's port and it comes back by broadcast.
    const std::size_t rowsOfB = table.groups[0].rows.size();
    arrivals.clear();
    platform::sendMessage(listenerC->window(), {WM_CHAT_SEND_GROUP, std::string("for C"), {}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return table.groups[1].rows.size() == 2; }, 5000));
    EXPECT_EQ(table.groups[1].rows[1].body, "for C");
    EXPECT_EQ(arrivals.at(0).group, 1);
    EXPECT_EQ(arrivals.at(0).port, 12123u);
    EXPECT_EQ(table.groups[0].rows.size(), rowsOfB);

    // The write window of the deleted group cannot send any more.
    QTest::keyClicks(writeToA->frame()->view(), "late");
    writeToA->frame()->pressButton();
    EXPECT_EQ(answers.calls().back().text, sj("送信しようとしているグループは削除されました"));
    writeToC->frame()->close();
}

TEST_F(PortSettings, DeleteCancelledChangesNothing)
{
    startGroups({{"12121", "A", "a"}, {"12122", "B", "b"}});
    CPortPage page(sandbox.chatTable);
    page.selectItem(1);
    platform::MessageBoxRecorder answers({platform::IDCANCEL});
    page.deleteSelected();
    ASSERT_EQ(answers.calls().size(), 1u);
    EXPECT_EQ(answers.calls()[0].type & 0xF00, 0x100u); // Cancel is the default button
    EXPECT_EQ(storedCount(), 2);
    EXPECT_EQ(sandbox.chatTable.groupCount, 2);
    EXPECT_NE(sandbox.chatTable.listener(1), nullptr);
    EXPECT_EQ(listed(page), (std::vector<std::string>{"12121", "12122"}));
    EXPECT_TRUE(tree.calls.empty());
}

TEST_F(PortSettings, NameChangesAreOnlyStored)
{
    startGroups({{"12121", "A", "me"}});
    CPortPage page(sandbox.chatTable);
    const struct {
        QLineEdit* edit;
        QPushButton* button;
        const char* typed;
        std::string key;
        std::string message;
    } cases[] = {
        {page.groupNameEdit(), page.groupNameButton(), "Z", "User PortName1",
         sj("グループ名を変更しました。再起動後、有効となります。")},
        {page.nameEdit(), page.nameButton(), "Y", "User Name1",
         sj("ユーザ名を変更しました。再起動後、有効となります。")},
    };
    for (const auto& c : cases) {
        platform::MessageBoxRecorder local;
        EXPECT_FALSE(c.button->isEnabled());
        QTest::keyClicks(c.edit, c.typed);
        EXPECT_TRUE(c.button->isEnabled());
        QTest::mouseClick(c.button, Qt::LeftButton);
        EXPECT_FALSE(c.button->isEnabled());
        ASSERT_EQ(local.calls().size(), 1u);
        EXPECT_EQ(local.calls()[0].text, c.message);
    }
    EXPECT_EQ(stored("User PortName1"), "AZ");
    EXPECT_EQ(stored("User Name1"), "meY");
    EXPECT_EQ(sandbox.chatTable.groups[0].name, "A");
    EXPECT_EQ(sandbox.chatTable.groups[0].displayName, "me");
    EXPECT_TRUE(tree.calls.empty());

    // A display name the datagrams could not carry is refused.
    platform::MessageBoxRecorder local;
    page.nameEdit()->setText("x#y");
    page.changeDisplayName();
    EXPECT_EQ(stored("User Name1"), "meY");
    ASSERT_EQ(local.calls().size(), 1u);
    EXPECT_EQ(local.calls()[0].text, CNewPortDlg::hashInNameText());
}

TEST_F(PortSettings, ChangedNamesShowAsStoredMarkedForTheNextStart)
{
    startGroups({{"12121", "A", "me"}, {"12122", "B", "you"}});
    const struct {
        const char* what;
        QLineEdit* (CPortPage::*edit)() const;
        QPushButton* (CPortPage::*button)() const;
        QLabel* (CPortPage::*mark)() const;
        const char* running;
    } cases[] = {
        {"name", &CPortPage::nameEdit, &CPortPage::nameButton, &CPortPage::namePendingMark, "me"},
        {"group name", &CPortPage::groupNameEdit, &CPortPage::groupNameButton, &CPortPage::groupNamePendingMark, "A"},
    };
    // Typed as the user types, so that the button takes the click.
    auto retype = [](QLineEdit* edit, const char* text) {
        edit->clear();
        QTest::keyClicks(edit, text);
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        {
            CPortPage page(sandbox.chatTable);
            EXPECT_TRUE((page.*c.mark)()->isHidden());
            retype((page.*c.edit)(), "renamed");
            (page.*c.button)()->click();
            EXPECT_FALSE((page.*c.mark)()->isHidden());
            // Away and back: the stored name, still marked, not the one in use.
            page.selectItem(1);
            EXPECT_TRUE((page.*c.mark)()->isHidden());
            page.selectItem(0);
            EXPECT_EQ((page.*c.edit)()->text(), "renamed");
            EXPECT_FALSE((page.*c.mark)()->isHidden());
            EXPECT_EQ((page.*c.mark)()->text(), CPortPage::pendingText());
        }
        {
            // Opened again: the same. Changed back to the name in use, the mark goes.
            CPortPage page(sandbox.chatTable);
            EXPECT_EQ((page.*c.edit)()->text(), "renamed");
            EXPECT_FALSE((page.*c.mark)()->isHidden());
            retype((page.*c.edit)(), c.running);
            (page.*c.button)()->click();
            EXPECT_TRUE((page.*c.mark)()->isHidden());
        }
    }
    EXPECT_EQ(sandbox.chatTable.groups[0].displayName, "me");
    EXPECT_EQ(sandbox.chatTable.groups[0].name, "A");
}

TEST_F(PortSettings, LogSettingsAreStoredOnOkOnlyAsChanged)
{
    startGroups({{"12121", "A", "me"}});
    auto& p = platform::Profile::application();
    {
        // Unchanged: "Log Folder" is left as the store has it now, "Log YesNo" written.
        CPortSettingsSheet sheet(sandbox.chatTable);
        EXPECT_EQ(sheet.windowTitle(), QString::fromUtf8("ポート＆ログの設定"));
        p.writeString(kNetMsg, "Log Folder", "/elsewhere");
        sheet.page()->storeLogSettings();
        EXPECT_EQ(stored("Log Folder"), "/elsewhere");
        EXPECT_EQ(p.getInt(kNetMsg, "Log YesNo", -1), 0);
    }
    {
        CPortSettingsSheet sheet(sandbox.chatTable);
        std::string askedTitle;
        platform::setFolderPickerResponder([&](std::string_view title) -> std::optional<std::string> {
            askedTitle = std::string(title);
            return std::string("/tmp/logs");
        });
        QTest::mouseClick(sheet.page()->findChild<QPushButton*>("1053"), Qt::LeftButton);
        EXPECT_EQ(askedTitle, sj("フォルダを選択してください"));
        EXPECT_EQ(sheet.page()->logFolderLabel()->text(), "/tmp/logs");
        sheet.page()->logCheck()->click();
        EXPECT_EQ(stored("Log Folder"), "/elsewhere"); // nothing before OK
        sheet.page()->storeLogSettings();
        EXPECT_EQ(stored("Log Folder"), "/tmp/logs");
        EXPECT_EQ(p.getInt(kNetMsg, "Log YesNo", -1), 1);
    }
    {
        // A cancelled picker keeps the folder.
        CPortSettingsSheet sheet(sandbox.chatTable);
        platform::setFolderPickerResponder([](std::string_view) -> std::optional<std::string> { return std::nullopt; });
        sheet.page()->browseLogFolder();
        EXPECT_EQ(sheet.page()->logFolder(), "/tmp/logs");
        EXPECT_TRUE(sheet.page()->logCheck()->isChecked());
    }
}

// Folder names that code page 932 cannot hold: accented Latin, Cyrillic outside its Japanese set,
// Hangul and an emoji.
const char* const kForeignFolder = "café Ünïcødé Ёж 한국어 😀";

mode_t modeOf(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// The default log folder under a working directory whose name code page 932 cannot hold is stored
// exactly, made for the user alone, and the logs are then written there.
TEST_F(PortSettings, DefaultLogFolderUnderAnyWorkingDirectoryIsStoredExactlyAndLogged)
{
    startGroups({{"12121", "A", "me"}});
    const std::string cwd = sandbox.path() + "/" + kForeignFolder;
    std::filesystem::create_directory(cwd);
    ASSERT_TRUE(QDir::setCurrent(QString::fromUtf8(cwd.c_str())));
    const std::string expected = cwd + "/ChatLog";
    const mode_t oldMask = ::umask(0);
    {
        CPortPage page(sandbox.chatTable);
        ::umask(oldMask);
        EXPECT_EQ(page.logFolder(), expected);
        EXPECT_EQ(page.logFolderLabel()->text(), QString::fromUtf8(expected.c_str()));
        page.logCheck()->click();
        page.storeLogSettings();
    }
    ::umask(oldMask);
    EXPECT_TRUE(std::filesystem::is_directory(expected));
    EXPECT_EQ(modeOf(expected), 0700u);
    const std::string settings = readFile(platform::Profile::application().filePath());
    EXPECT_NE(settings.find("Log Folder=" + expected + "\n"), std::string::npos) << settings;

    // A sent message is logged in that folder.
    CNetMsgDlg* w = sandbox.chatTable.listener(0)->window();
    platform::sendMessage(w, {WM_CHAT_SEND_GROUP, std::string("hello"), {}});
    ChatLog* log = sandbox.chatTable.chatLog(0);
    ASSERT_TRUE(log->isOpen());
    EXPECT_EQ(std::filesystem::path(log->path()).parent_path().string(), expected);
    EXPECT_NE(readFile(log->path()).find("\r\nhello\r\n"), std::string::npos);
    EXPECT_TRUE(boxes.calls().empty());
}

// The real folder picker: a folder whose name code page 932 cannot hold is taken like any other.
#if !defined(__SANITIZE_THREAD__)
// The dialog's file system model reads folders on a thread inside Qt, whose own ordering
// ThreadSanitizer cannot see; nothing of the program's runs there: the other builds run this test.
TEST_F(PortSettings, FolderPickerTakesFoldersCodePage932CannotName)
{
    startGroups({{"12121", "A", "me"}});
    const std::string chosen = sandbox.path() + "/" + kForeignFolder;
    std::filesystem::create_directory(chosen);
    CPortPage page(sandbox.chatTable);
    bool answered = false;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog || answered)
            return;
        answered = true;
        dialog->setDirectory(QString::fromUtf8(chosen.c_str()));
        static_cast<QDialog*>(dialog)->accept(); // the file dialog's own accept, through its public base
    });
    answerer.start(10);
    page.browseLogFolder();
    EXPECT_TRUE(answered);
    EXPECT_EQ(page.logFolder(), chosen);
    EXPECT_EQ(page.logFolderLabel()->text(), QString::fromUtf8(chosen.c_str()));
    page.storeLogSettings();
    EXPECT_NE(readFile(platform::Profile::application().filePath()).find("Log Folder=" + chosen + "\n"),
              std::string::npos);
}
#endif

// Every UDP datagram this host receives, as raw IP packets (the group's own broadcasts come back).
class UdpCapture {
public:
    UdpCapture() : m_fd(::socket(AF_INET, SOCK_RAW, IPPROTO_UDP)) {}
    ~UdpCapture() { ::close(m_fd); }
    UdpCapture(const UdpCapture&) = delete;
    UdpCapture& operator=(const UdpCapture&) = delete;
    bool open() const { return m_fd >= 0; }
    // Collects packets until one holds marker (true) or nothing has come for timeoutMs.
    bool collectUntil(const std::string& marker, int timeoutMs)
    {
        for (;;) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, timeoutMs) <= 0)
                return false;
            char buf[65536];
            const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
            if (n <= 0)
                return false;
            seen.emplace_back(buf, static_cast<std::size_t>(n));
            if (seen.back().find(marker) != std::string::npos)
                return true;
        }
    }
    bool anyHolds(const std::string& bytes) const
    {
        return std::any_of(seen.begin(), seen.end(),
                           [&](const std::string& s) { return s.find(bytes) != std::string::npos; });
    }
    std::vector<std::string> seen;

private:
    int m_fd;
};

// Deleting a group ends its listener without the leave notice that exit sends; the next group's
// exit, afterwards, shows that a leave notice would have been seen.
TEST_F(PortSettings, DeletingAGroupSendsNoLeaveNotice)
{
    startGroups({{"12121", "A", "gone"}, {"12122", "B", "stays"}});
    UdpCapture capture;
    ASSERT_TRUE(capture.open());
    CPortPage page(sandbox.chatTable);
    page.selectItem(0);
    page.deleteSelected();
    ASSERT_EQ(sandbox.chatTable.groupCount, 1);
    sandbox.chatTable.stopListener(0, true);
    ASSERT_TRUE(capture.collectUntil(chat::buildLeave("stays"), 5000));
    EXPECT_FALSE(capture.anyHolds(chat::buildLeave("gone")));
}

} // namespace

} // namespace orvalink::chat
