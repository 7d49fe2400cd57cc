#include "mail/AccountList.h"
#include "mail/CCipherSettingsPage.h"
#include "mail/CMailSettingsSheet.h"
#include "mail/CServerSettingsPage.h"
#include "mail/MailTestSupport.h"
#include "platform/MessageBoxRecorder.h"
#include "platform/TextCodec.h"
#include "platform/text/ByteEscape.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace orvalink::platform {

bool operator==(const MessageBoxCall& a, const MessageBoxCall& b)
{
    return a.text == b.text && a.caption == b.caption && a.type == b.type;
}

void PrintTo(const MessageBoxCall& c, std::ostream* os)
{
    *os << "{" << platform::cp932ToUtf8(c.text) << ", " << platform::cp932ToUtf8(c.caption) << ", " << c.type << "}";
}

} // namespace orvalink::platform

namespace orvalink::mail {

using Page = CServerSettingsPage;

namespace {

constexpr unsigned kOkCancelDefaultCancel = platform::MB_OKCANCEL | 0x100;

// A question carries the question icon, a notice (OK alone) the information icon.
platform::MessageBoxCall question(const char* utf8, unsigned type = platform::MB_OKCANCEL)
{
    const unsigned icon = (type & 0xF) == platform::MB_OK ? platform::MB_ICONINFORMATION : platform::MB_ICONQUESTION;
    return {sj(utf8), sj("メッセージ"), type | icon};
}

class ServerSettings : public ::testing::Test {
protected:
    // Opens the sheet as the command would, without its modal loop.
    CServerSettingsPage& open()
    {
        m_sheet = std::make_unique<CMailSettingsSheet>(m_directory);
        // Shown (not exec'd) so that its buttons have a size and take clicks.
        m_sheet->show();
        return *m_sheet->serverPage();
    }
    // Closes it with OK or Cancel, as the user would, and lets it go.
    void close(QDialogButtonBox::StandardButton which = QDialogButtonBox::Ok)
    {
        QTest::mouseClick(m_sheet->buttons()->button(which), Qt::LeftButton);
        m_sheet.reset();
    }
    static void click(Page& page, int id) { QTest::mouseClick(page.button(id), Qt::LeftButton); }
    static void type(Page& page, int id, const std::string& cp932)
    {
        page.edit(id)->setText(platform::toQString(cp932));
    }
    static std::string field(Page& page, int id) { return platform::fromQString(page.edit(id)->text()); }
    // Types into the combo box's field key by key (ASCII names).
    static void typeName(Page& page, const std::string& ascii)
    {
        QLineEdit* line = page.serverNameBox()->lineEdit();
        line->clear();
        QTest::keyClicks(line, QString::fromStdString(ascii));
    }
    static std::string shownName(Page& page) { return platform::fromQString(page.serverNameBox()->currentText()); }
    // Picks an item of the combo box's list, as a click in its drop-down does.
    static void choose(Page& page, const std::string& cp932)
    {
        QComboBox* box = page.serverNameBox();
        const int i = box->findText(platform::toQString(cp932), Qt::MatchExactly);
        ASSERT_GE(i, 0) << platform::cp932ToUtf8(cp932);
        box->setCurrentIndex(i);
        emit box->activated(i);
    }
    static std::vector<std::string> listed(Page& page)
    {
        std::vector<std::string> names;
        for (int i = 0; i < page.serverNameBox()->count(); ++i)
            names.push_back(platform::fromQString(page.serverNameBox()->itemText(i)));
        return names;
    }
    static void fill(Page& page, const MailAccount& a)
    {
        page.serverNameBox()->setEditText(platform::toQString(a.serverName));
        type(page, Page::kIdPopServer, a.popServer);
        type(page, Page::kIdPopPort, a.popPort);
        type(page, Page::kIdAccount, a.popAccount);
        type(page, Page::kIdPassword, a.popPassword);
        type(page, Page::kIdSmtpServer, a.smtpServer);
        type(page, Page::kIdSmtpPort, a.smtpPort);
        type(page, Page::kIdEmailAddress, a.emailAddress);
    }
    static MailAccount shown(Page& page)
    {
        return {shownName(page),
                field(page, Page::kIdPopServer),
                field(page, Page::kIdPopPort),
                field(page, Page::kIdAccount),
                field(page, Page::kIdPassword),
                field(page, Page::kIdSmtpServer),
                field(page, Page::kIdSmtpPort),
                field(page, Page::kIdEmailAddress)};
    }
    std::string entry(const char* section, const std::string& key) const
    {
        return sandbox.profile().getString(section, key, "<missing>");
    }
    int entryInt(const char* section, const char* key) const { return sandbox.profile().getInt(section, key, -999); }

    ProfileSandbox sandbox;
    MailDirectory m_directory;
    std::unique_ptr<CMailSettingsSheet> m_sheet;
};

TEST_F(ServerSettings, SheetHasItsCaptionIconThreePagesAndNoApplyButton)
{
    open();
    EXPECT_EQ(m_sheet->windowTitle(), QString::fromUtf8("メール設定"));
    EXPECT_FALSE(m_sheet->windowIcon().isNull());
    QTabWidget* pages = m_sheet->pages();
    ASSERT_EQ(pages->count(), 3);
    EXPECT_EQ(pages->tabText(0), QString::fromUtf8("サーバー設定"));
    EXPECT_EQ(pages->tabText(1), QString::fromUtf8("暗号"));
    EXPECT_EQ(pages->tabText(2), QString::fromUtf8("振り分け"));
    EXPECT_EQ(pages->widget(0), m_sheet->serverPage());
    EXPECT_EQ(pages->widget(1), m_sheet->cipherPage());
    EXPECT_TRUE(pages->widget(2)->findChildren<QWidget*>().isEmpty());
    EXPECT_EQ(m_sheet->buttons()->standardButtons(), QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
}

TEST_F(ServerSettings, EveryControlHasItsIdAndTheLabelBesideIt)
{
    Page& page = open();
    const struct {
        int id;
        const char* label;
    } edits[] = {
        {Page::kIdServerName, "サーバー情報"},
        {Page::kIdEmailAddress, "E-Mailアドレス"},
        {Page::kIdPopServer, "POP3サーバー"},
        {Page::kIdPopPort, "Port"},
        {Page::kIdSmtpServer, "SMTPサーバー"},
        {Page::kIdSmtpPort, "Port"},
        {Page::kIdAccount, "アカウント"},
        {Page::kIdPassword, "パスワード"},
        {Page::kIdSaveFolder, "メールの保存フォルダ"},
    };
    const auto labels = page.findChildren<QLabel*>();
    for (const auto& e : edits) {
        QWidget* control = page.findChild<QWidget*>(QString::number(e.id));
        ASSERT_NE(control, nullptr) << e.id;
        int beside = 0;
        for (QLabel* l : labels)
            if (l->buddy() == control && l->text() == QString::fromUtf8(e.label))
                ++beside;
        EXPECT_EQ(beside, 1) << e.id << " " << e.label;
    }
    EXPECT_TRUE(page.serverNameBox()->isEditable());
    EXPECT_EQ(page.edit(Page::kIdPassword)->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(page.edit(Page::kIdSaveFolder)->isReadOnly());
    for (int id : {Page::kIdEmailAddress, Page::kIdPopServer, Page::kIdAccount, Page::kIdPopPort})
        EXPECT_FALSE(page.edit(id)->isReadOnly()) << id;

    const struct {
        int id;
        const char* text;
    } buttons[] = {{Page::kIdRegister, "登録(&R)"},
                   {Page::kIdUpdate, "更新(&P)"},
                   {Page::kIdDelete, "削除(&D)"},
                   {Page::kIdStandard, "標準設定"},
                   {Page::kIdBrowse, "参照(&B)"}};
    for (const auto& b : buttons) {
        ASSERT_NE(page.button(b.id), nullptr) << b.id;
        EXPECT_EQ(page.button(b.id)->text(), QString::fromUtf8(b.text));
    }
}

TEST_F(ServerSettings, OpeningAnEmptyStoreWritesCountEditNormalAndShowsEmptyFields)
{
    Page& page = open();
    EXPECT_EQ(entryInt("Server Entry", "Count"), 0);
    EXPECT_EQ(entryInt("Server Entry", "Edit"), 0);
    EXPECT_EQ(entryInt("Server Entry", "Normal"), 1);
    EXPECT_EQ(shown(page), MailAccount{});
    EXPECT_EQ(page.serverNameBox()->count(), 0);
    EXPECT_EQ(page.currentIndex(), -1);
    EXPECT_EQ(field(page, Page::kIdSaveFolder), "");
}

TEST_F(ServerSettings, NewAccountWithEmptyPortsIsStoredEmptyAndGetsDefaultsAtTheNextOpening)
{
    platform::MessageBoxRecorder boxes({platform::IDOK});
    Page& page = open();
    MailAccount typed = sampleAccount(sj("会社"));
    typed.popPort.clear();
    typed.smtpPort.clear();
    fill(page, typed);
    click(page, Page::kIdRegister);

    EXPECT_EQ(boxes.calls(), std::vector{question("新規に登録しますか？")});
    EXPECT_EQ(entryInt("Server Entry", "Count"), 1);
    EXPECT_EQ(entryInt("Server Entry", "Edit"), 1);
    EXPECT_EQ(MailAccountStore().read(1), typed);
    EXPECT_EQ(listed(page), std::vector{typed.serverName});
    EXPECT_EQ(page.currentIndex(), 0);
    close();

    Page& again = open();
    EXPECT_EQ(entry("Server Entry", "POP PortNo1"), "110");
    EXPECT_EQ(entry("Server Entry", "SMTP PortNo1"), "25");
    MailAccount withDefaults = typed;
    withDefaults.popPort = "110";
    withDefaults.smtpPort = "25";
    EXPECT_EQ(shown(again), withDefaults);
}

TEST_F(ServerSettings, RegisteringAnExistingNameOverwritesItsOwnNumber)
{
    storeAccounts({"A", "B", "C"}, 1);
    platform::MessageBoxRecorder boxes({platform::IDOK});
    Page& page = open();
    MailAccount changed = sampleAccount("B");
    changed.popServer = "new-pop.example";
    changed.popPassword = "changed";
    fill(page, changed);
    click(page, Page::kIdRegister);

    EXPECT_EQ(boxes.calls(), std::vector{question("上書きしますか？")});
    EXPECT_EQ(entryInt("Server Entry", "Count"), 3);
    EXPECT_EQ(entryInt("Server Entry", "Edit"), 1);
    MailAccountStore store;
    EXPECT_EQ(store.read(2), changed);
    EXPECT_EQ(store.read(1), sampleAccount("A"));
    EXPECT_EQ(store.read(3), sampleAccount("C"));
    EXPECT_EQ(store.read(4), MailAccount{});
    EXPECT_EQ(listed(page), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(page.currentIndex(), 1);
}

TEST_F(ServerSettings, RegisterWithANameThatCannotBeOneWritesNothing)
{
    for (const char* name : {"", " ", " lead"}) {
        ProfileSandbox fresh;
        storeAccounts({"A"}, 1);
        platform::MessageBoxRecorder boxes;
        Page& page = open();
        type(page, Page::kIdPopServer, "typed.example");
        typeName(page, name);
        const std::vector before = sandbox.profile().entries("Server Entry");
        click(page, Page::kIdRegister);
        EXPECT_EQ(boxes.calls(), std::vector{question("サーバー情報としては登録出来ません。", platform::MB_OK)})
            << "'" << name << "'";
        EXPECT_EQ(sandbox.profile().entries("Server Entry"), before);
        EXPECT_FALSE(sandbox.profile().contains("Mail Entry", "SaveFolder")) << "'" << name << "'";
        m_sheet.reset();
    }
}

TEST_F(ServerSettings, TypedPortsAreDigitsNamingAPort)
{
    const struct {
        int field;
        const char* port;
    } cases[] = {{Page::kIdPopPort, "1e4"},
                 {Page::kIdSmtpPort, "587x"},
                 {Page::kIdPopPort, "0"},
                 {Page::kIdSmtpPort, "65536"},
                 {Page::kIdPopPort, " 110"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.port);
        for (int button : {Page::kIdRegister, Page::kIdUpdate}) {
            ProfileSandbox fresh;
            storeAccounts({"A"}, 1);
            platform::MessageBoxRecorder boxes({platform::IDOK, platform::IDOK});
            Page& page = open();
            // Register as a new account, or update account A.
            fill(page, sampleAccount(button == Page::kIdRegister ? "B" : "A"));
            type(page, c.field, c.port);
            const std::vector before = sandbox.profile().entries("Server Entry");
            click(page, button);
            EXPECT_EQ(boxes.calls(), std::vector{question("ポート番号が間違っています", platform::MB_OK)}) << button;
            EXPECT_EQ(sandbox.profile().entries("Server Entry"), before) << button;
            m_sheet.reset();
        }
    }
    // Empty ports take their defaults, and digits are ports.
    ProfileSandbox fresh;
    platform::MessageBoxRecorder boxes({platform::IDOK});
    Page& page = open();
    MailAccount a = sampleAccount("C");
    a.popPort.clear();
    a.smtpPort = "0587";
    fill(page, a);
    click(page, Page::kIdRegister);
    EXPECT_EQ(boxes.calls(), std::vector{question("新規に登録しますか？")});
    EXPECT_EQ(MailAccountStore().read(1).smtpPort, "0587");
}

TEST_F(ServerSettings, CancelledRegistrationLeavesAccountsButStoresTheFolder)
{
    const struct {
        const char* name;
        const char* asked;
    } cases[] = {{"A", "上書きしますか？"}, {"Z", "新規に登録しますか？"}};
    for (const auto& c : cases) {
        ProfileSandbox fresh;
        sandbox.profile().writeString("Mail Entry", "SaveFolder", "/old");
        storeAccounts({"A"}, 1);
        FolderPickerScript picker({"/chosen/mail"});
        platform::MessageBoxRecorder boxes({platform::IDCANCEL});
        Page& page = open();
        click(page, Page::kIdBrowse);
        fill(page, sampleAccount("X"));
        typeName(page, c.name);
        const std::vector before = sandbox.profile().entries("Server Entry");
        click(page, Page::kIdRegister);
        EXPECT_EQ(boxes.calls(), std::vector{question(c.asked)});
        EXPECT_EQ(sandbox.profile().entries("Server Entry"), before) << c.name;
        EXPECT_EQ(listed(page), std::vector<std::string>{"A"});
        EXPECT_EQ(entry("Mail Entry", "SaveFolder"), "/chosen/mail");
        EXPECT_EQ(m_directory.path(), "/chosen/mail");
        m_sheet.reset();
    }
}

TEST_F(ServerSettings, FolderPickerFillsTheFieldAndSetsTheMailDirectoryRegisterStoresIt)
{
    sandbox.profile().writeString("Mail Entry", "SaveFolder", "/stored");
    // The picker answers with the path's bytes; the field and the mail folders name it in code page 932.
    const std::string chosen = "/home/" + sj("花子") + "/mail";
    FolderPickerScript picker({std::nullopt, "/home/花子/mail"});
    platform::MessageBoxRecorder boxes({platform::IDOK});
    Page& page = open();
    EXPECT_EQ(field(page, Page::kIdSaveFolder), "/stored");
    EXPECT_EQ(m_directory.path(), "/stored");

    click(page, Page::kIdBrowse); // cancelled
    EXPECT_EQ(field(page, Page::kIdSaveFolder), "/stored");
    EXPECT_EQ(m_directory.path(), "/stored");

    click(page, Page::kIdBrowse);
    EXPECT_EQ(picker.titles(), std::vector<std::string>(2, sj("フォルダを選択してください")));
    EXPECT_EQ(field(page, Page::kIdSaveFolder), chosen);
    EXPECT_EQ(m_directory.path(), "/home/花子/mail");
    EXPECT_EQ(entry("Mail Entry", "SaveFolder"), "/stored");

    fill(page, sampleAccount("A"));
    click(page, Page::kIdRegister);
    EXPECT_EQ(entry("Mail Entry", "SaveFolder"), chosen);
    close(QDialogButtonBox::Cancel);
    // Cancel takes back nothing that was registered.
    EXPECT_EQ(entry("Mail Entry", "SaveFolder"), chosen);
    m_directory.set("");
    open();
    EXPECT_EQ(m_directory.path(), "/home/花子/mail");
}

TEST_F(ServerSettings, AFolderCodePage932CannotNameIsKeptByteForByte)
{
    // Not UTF-8 at all, and UTF-8 with characters code page 932 lacks.
    for (const std::string& path : {std::string("/data/\xff\xfe mail\x81"), std::string("/home/café/📮 mail")}) {
        SCOPED_TRACE(platform::escapeBytes(path));
        ProfileSandbox fresh;
        FolderPickerScript picker({path, std::nullopt});
        platform::MessageBoxRecorder boxes({platform::IDOK});
        Page& page = open();
        click(page, Page::kIdBrowse);
        EXPECT_EQ(m_directory.path(), path);
        fill(page, sampleAccount("A"));
        click(page, Page::kIdRegister);
        close();
        EXPECT_EQ(sandbox.profile().getPath("Mail Entry", "SaveFolder"), path);

        // Read again at the next opening; a cancelled picker leaves it.
        m_directory.setPath("");
        Page& again = open();
        EXPECT_EQ(m_directory.path(), path);
        click(again, Page::kIdBrowse); // cancelled
        EXPECT_EQ(m_directory.path(), path);
        close();
        EXPECT_EQ(sandbox.profile().getPath("Mail Entry", "SaveFolder"), path);
    }
}

TEST_F(ServerSettings, TheLastChosenNameIsShownAtTheNextOpening)
{
    storeAccounts({"Carol", "alice", "Bob"}, 1);
    {
        Page& page = open();
        EXPECT_EQ(listed(page), (std::vector<std::string>{"alice", "Bob", "Carol"}));
        EXPECT_EQ(shown(page), sampleAccount("Carol"));
        choose(page, "Bob");
        EXPECT_EQ(shown(page), sampleAccount("Bob"));
        EXPECT_EQ(page.currentIndex(), 2);
        choose(page, "alice");
        EXPECT_EQ(entryInt("Server Entry", "Edit"), 1);
        // Written when the sheet closes, while the object may live on.
        QTest::mouseClick(m_sheet->buttons()->button(QDialogButtonBox::Cancel), Qt::LeftButton);
        EXPECT_FALSE(m_sheet->isVisible());
        EXPECT_EQ(entryInt("Server Entry", "Edit"), 2);
        m_sheet.reset();
    }
    EXPECT_EQ(entryInt("Server Entry", "Edit"), 2);
    {
        Page& page = open();
        EXPECT_EQ(shown(page), sampleAccount("alice"));
        EXPECT_EQ(page.currentIndex(), 1);
        // Typing after a choice leaves no list item chosen, so "Edit" stays.
        choose(page, "Carol");
        typeName(page, "Caro");
        platform::MessageBoxRecorder boxes({platform::IDNO});
        close();
        EXPECT_EQ(boxes.calls().size(), 1u);
    }
    EXPECT_EQ(entryInt("Server Entry", "Edit"), 2);
}

TEST_F(ServerSettings, PasswordIsStoredExactlyAsTyped)
{
    const std::string passwords[] = {" lead and trail ", "a=b;c#d", "back\\slash\\x41", sj("日本語ﾊﾟｽ")};
    MailAccountStore store;
    for (const std::string& password : passwords) {
        ProfileSandbox fresh;
        platform::MessageBoxRecorder boxes({platform::IDOK});
        Page& page = open();
        MailAccount a = sampleAccount("P");
        a.popPassword = password;
        fill(page, a);
        click(page, Page::kIdRegister);
        m_sheet.reset();
        platform::Profile::reopenApplication();
        EXPECT_EQ(store.read(1).popPassword, password);
        EXPECT_EQ(shown(open()).popPassword, password);
        m_sheet.reset();
    }
}

TEST_F(ServerSettings, UpdateAsksWithCancelAsDefaultAndWritesTheCurrentAccount)
{
    storeAccounts({"A", "B"}, 2);
    platform::MessageBoxRecorder boxes({platform::IDCANCEL, platform::IDOK});
    Page& page = open();
    MailAccount changed = sampleAccount("Bee");
    changed.smtpPort.clear();
    fill(page, changed);
    const std::vector before = sandbox.profile().entries("Server Entry");
    click(page, Page::kIdUpdate);
    EXPECT_EQ(sandbox.profile().entries("Server Entry"), before);

    click(page, Page::kIdUpdate);
    EXPECT_EQ(boxes.calls(), std::vector(2, question("更新しますか？", kOkCancelDefaultCancel)));
    changed.smtpPort = "25"; // the list is rebuilt by loading every account
    EXPECT_EQ(MailAccountStore().read(2), changed);
    EXPECT_EQ(MailAccountStore().read(1), sampleAccount("A"));
    EXPECT_EQ(listed(page), (std::vector<std::string>{"A", "Bee"}));
    EXPECT_EQ(shown(page), changed);
}

TEST_F(ServerSettings, UpdateCannotGiveAnAccountTheNameOfAnother)
{
    storeAccounts({"A", "B"}, 2);
    platform::MessageBoxRecorder boxes({platform::IDOK, platform::IDOK});
    Page& page = open();
    const std::vector before = sandbox.profile().entries("Server Entry");
    typeName(page, "A");
    click(page, Page::kIdUpdate);
    EXPECT_EQ(boxes.calls(), std::vector{question("同じ名前のサーバー情報があります。", platform::MB_OK)});
    EXPECT_EQ(sandbox.profile().entries("Server Entry"), before);

    // Keeping its own name is an ordinary update.
    typeName(page, "B");
    type(page, Page::kIdPopServer, "other.example");
    click(page, Page::kIdUpdate);
    EXPECT_EQ(boxes.calls().back(), question("更新しますか？", kOkCancelDefaultCancel));
    EXPECT_EQ(MailAccountStore().read(2).popServer, "other.example");
}

TEST_F(ServerSettings, UpdateDeleteAndStandardWithoutAnAccountAreRefused)
{
    for (int id : {Page::kIdUpdate, Page::kIdDelete, Page::kIdStandard}) {
        ProfileSandbox fresh;
        platform::MessageBoxRecorder boxes({platform::IDOK, platform::IDOK});
        Page& page = open();
        fill(page, sampleAccount("A"));
        const std::vector before = sandbox.profile().entries("Server Entry");
        click(page, id);
        EXPECT_EQ(boxes.calls(), std::vector{question("サーバー情報が選択されていません。", platform::MB_OK)}) << id;
        EXPECT_EQ(sandbox.profile().entries("Server Entry"), before) << id;
        EXPECT_FALSE(sandbox.profile().contains("Server Entry", "Server Name0")) << id;
        m_sheet.reset();
    }
}

TEST_F(ServerSettings, DeleteRemovesTheChosenAccountAndClosesUpTheNumbers)
{
    storeAccounts({"A", "B", "C"}, 3);
    platform::MessageBoxRecorder boxes({platform::IDCANCEL, platform::IDOK});
    Page& page = open();
    choose(page, "B");
    click(page, Page::kIdDelete);
    EXPECT_EQ(storedNames(), (std::vector<std::string>{"A", "B", "C"}));

    click(page, Page::kIdDelete);
    EXPECT_EQ(boxes.calls(), std::vector(2, question("本当に削除しますか？", kOkCancelDefaultCancel)));
    EXPECT_EQ(storedNames(), (std::vector<std::string>{"A", "C"}));
    EXPECT_EQ(MailAccountStore().read(2), sampleAccount("C"));
    EXPECT_FALSE(sandbox.profile().contains("Server Entry", "Server Name3"));
    EXPECT_EQ(entryInt("Server Entry", "Count"), 2);
    EXPECT_EQ(entryInt("Server Entry", "Edit"), 2);
    EXPECT_EQ(listed(page), (std::vector<std::string>{"A", "C"}));
    EXPECT_EQ(shown(page), sampleAccount("C"));
    EXPECT_EQ(page.currentIndex(), 1);
}

TEST_F(ServerSettings, DeletingTheOnlyAccountEmptiesThePage)
{
    storeAccounts({"A"}, 1);
    platform::MessageBoxRecorder boxes({platform::IDOK});
    Page& page = open();
    click(page, Page::kIdDelete);
    EXPECT_EQ(entryInt("Server Entry", "Count"), 0);
    EXPECT_EQ(entryInt("Server Entry", "Edit"), 0);
    EXPECT_EQ(shown(page), MailAccount{});
    EXPECT_EQ(page.currentIndex(), -1);
    EXPECT_EQ(page.serverNameBox()->count(), 0);
    close();
    EXPECT_EQ(entryInt("Server Entry", "Count"), 0);
}

TEST_F(ServerSettings, StandardMakesTheShownAccountAccountOne)
{
    storeAccounts({"A", "B", "C"}, 1);
    platform::MessageBoxRecorder boxes({platform::IDCANCEL, platform::IDOK});
    Page& page = open();
    choose(page, "C");
    // Asked first, like a delete: Cancel (the default) renumbers nothing.
    const std::vector before = sandbox.profile().entries("Server Entry");
    click(page, Page::kIdStandard);
    EXPECT_EQ(sandbox.profile().entries("Server Entry"), before);
    EXPECT_EQ(shown(page), sampleAccount("C"));
    click(page, Page::kIdStandard);
    EXPECT_EQ(boxes.calls(), std::vector(2, question("標準設定にしますか？", kOkCancelDefaultCancel)));
    EXPECT_EQ(storedNames(), (std::vector<std::string>{"C", "A", "B"}));
    EXPECT_EQ(MailAccountStore().read(1), sampleAccount("C"));
    EXPECT_EQ(readAccounts().front().smtpServer, "C-smtp.example");
    EXPECT_EQ(entryInt("Server Entry", "Edit"), 2);
    EXPECT_EQ(shown(page), sampleAccount("C"));
    EXPECT_EQ(page.currentIndex(), 0);
    close();
    EXPECT_EQ(shown(open()), sampleAccount("A"));
}

TEST_F(ServerSettings, OpeningCopiesTheFolderListAndLoadsEveryAccountsPortDefaults)
{
    auto& p = sandbox.profile();
    p.writeInt("Mail Entry", "SaveFolderItemCnt", 2);
    p.writeString("Mail Entry", "SaveFolderItem1", sj("仕事"));
    p.writeString("Mail Entry", "SaveFolderItem2", sj("私用"));
    storeAccounts({"A", "B"}, 1);
    p.writeString("Server Entry", "POP PortNo2", "");
    p.writeString("Server Entry", "SMTP PortNo2", "");
    open();
    EXPECT_EQ(m_directory.saveFolderItems(), (std::vector<std::string>{sj("仕事"), sj("私用")}));
    EXPECT_EQ(entry("Server Entry", "POP PortNo2"), "110");
    EXPECT_EQ(entry("Server Entry", "SMTP PortNo2"), "25");
    EXPECT_EQ(entry("Server Entry", "POP PortNo1"), "995");
}

TEST_F(ServerSettings, OkWithFieldsThatDifferFromTheStoreAsksWhetherToRegisterThem)
{
    enum class Change { None, SmtpPort, Folder, NewName, NoName };
    const struct {
        const char* name;
        Change change;
        int answer;  // to "変更を登録しますか？"
        bool closes; // the sheet is gone afterwards
        bool stored; // the change is in the store
    } cases[] = {
        {"nothing typed", Change::None, 0, true, false},
        {"port, yes", Change::SmtpPort, platform::IDYES, true, true},
        {"port, no", Change::SmtpPort, platform::IDNO, true, false},
        {"port, cancel", Change::SmtpPort, platform::IDCANCEL, false, false},
        {"browsed folder, yes", Change::Folder, platform::IDYES, true, true},
        {"browsed folder, no", Change::Folder, platform::IDNO, true, false},
        {"new name, yes", Change::NewName, platform::IDYES, true, true},
        {"fields without a name, yes", Change::NoName, platform::IDYES, false, false},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        ProfileSandbox fresh;
        sandbox.profile().writeString("Mail Entry", "SaveFolder", "/stored");
        storeAccounts({"A"}, 1);
        FolderPickerScript picker({"/chosen"});
        platform::MessageBoxRecorder boxes({k.answer});
        Page& page = open();
        const std::vector before = sandbox.profile().entries("Server Entry");
        MailAccount typed = sampleAccount("A");
        switch (k.change) {
        case Change::None:
            break;
        case Change::SmtpPort:
            typed.smtpPort = "2525";
            fill(page, typed);
            break;
        case Change::Folder:
            click(page, Page::kIdBrowse);
            break;
        case Change::NewName:
            typed.serverName = "B";
            fill(page, typed);
            break;
        case Change::NoName:
            typed = {};
            typed.popServer = "pop.example";
            fill(page, typed);
            break;
        }
        QTest::mouseClick(m_sheet->buttons()->button(QDialogButtonBox::Ok), Qt::LeftButton);

        std::vector<platform::MessageBoxCall> asked;
        if (k.change != Change::None)
            asked.push_back(
                {sj("変更を登録しますか？"), sj("メッセージ"), platform::MB_YESNOCANCEL | platform::MB_ICONQUESTION});
        if (k.change == Change::NoName)
            asked.push_back(question("サーバー情報としては登録出来ません。", platform::MB_OK));
        EXPECT_EQ(boxes.calls(), asked);
        EXPECT_EQ(m_sheet->isVisible(), !k.closes);
        if (!k.closes) {
            EXPECT_EQ(shown(page), typed) << "everything typed is still there";
        }
        const bool folderStored = k.stored && k.change == Change::Folder;
        EXPECT_EQ(entry("Mail Entry", "SaveFolder"), folderStored ? "/chosen" : "/stored");
        if (k.closes) {
            EXPECT_EQ(m_directory.path(), folderStored ? "/chosen" : "/stored");
        }
        if (k.stored && k.change != Change::Folder)
            EXPECT_EQ(MailAccountStore().read(MailAccountStore().find(typed.serverName)), typed);
        else
            EXPECT_EQ(sandbox.profile().entries("Server Entry"), before);
        m_sheet.reset();
    }
}

TEST_F(ServerSettings, CancelDropsABrowsedFolderAndAnUnsetFolderShowsTheDefault)
{
    FolderPickerScript picker({"/chosen"});
    Page& page = open();
    // Nothing stored: the field stays empty and says which folder is used instead.
    EXPECT_EQ(field(page, Page::kIdSaveFolder), "");
    EXPECT_EQ(page.edit(Page::kIdSaveFolder)->placeholderText(),
              QString::fromUtf8("標準: ") + QString::fromStdString(sandbox.dataHome() + "/Orvalink/Mail"));
    click(page, Page::kIdBrowse);
    EXPECT_EQ(m_directory.path(), "/chosen");
    close(QDialogButtonBox::Cancel);
    EXPECT_EQ(entry("Mail Entry", "SaveFolder"), "<missing>");
    EXPECT_EQ(m_directory.path(), defaultMailDirectoryPath());
}

} // namespace

} // namespace orvalink::mail
