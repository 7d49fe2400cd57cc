#include "mail/CSendFrame.h"
#include "mail/CSendHeaderBar.h"
#include "mail/CSendRecvDlg.h"
#include "mail/CSendRecvThread.h"
#include "mail/CSendThread.h"
#include "mail/CSendView.h"
#include "mail/CSendWorker.h"
#include "mail/ComposeTexts.h"
#include "mail/ComposeThreadTable.h"
#include "mail/ComposeWindows.h"
#include "mail/MailState.h"
#include "mail/MailTestSupport.h"
#include "mail/ReceiveCommand.h"
#include "mail/ReceiveDialog.h"
#include "mail/ScriptedPop3Server.h"
#include "mail/SendRecvWindow.h"
#include "mail/SendSettings.h"
#include "mail/engine/SmtpConversation.h"
#include "platform/MessageBoxRecorder.h"
#include "platform/TextCodec.h"
#include "platform/text/ByteEscape.h"
#include "res/ResourceIds.h"
#include "store/MailStore.h"
#include "support/PrivateNetwork.h"
#include "support/ScriptedSmtpServer.h"
#include "support/TestFiles.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <climits>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orvalink::mail {

namespace store = orvalink::store;

namespace {

QString qs(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

std::string hostName()
{
    char name[HOST_NAME_MAX + 1] = {};
    ::gethostname(name, sizeof name - 1);
    return name;
}

class ComposeWindows : public ::testing::Test {
protected:
    void SetUp() override { m_side.directory().set(m_mailDir.path()); }
    void TearDown() override
    {
        for (CSendThread* t : m_side.composeThreads().threads)
            if (t && t->frame())
                delete t->frame();
        m_side.sendRecvWindow().closeWindow();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_side.sendSettings().setSilenceLimitMs(mail::kReplyTimeoutSeconds * 1000);
    }

    CSendFrame* open(const std::string& to = {}, const std::string& subject = {})
    {
        CSendThread* t = OpenComposeWindow(m_side, to, subject);
        return t ? t->frame() : nullptr;
    }
    bool isOpen(int slot) const { return m_side.composeThreads().threads[static_cast<std::size_t>(slot)] != nullptr; }
    static void settleDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
    // Closes the window by its close box and lets it go.
    static void closeBox(CSendFrame* frame)
    {
        frame->close();
        settleDeletes();
    }
    std::optional<store::IndexListing> savedMail() const
    {
        return store::readFolderIndex(*store::folderFsPath(m_mailDir.path(), store::kSavedFolder));
    }
    std::string savedMailbox() const
    {
        return orvalink::test::readFile(*store::folderFsPath(m_mailDir.path(), store::kSavedFolder) + ".mbx");
    }
    std::vector<std::string> boxTexts() const
    {
        std::vector<std::string> texts;
        for (const auto& c : m_boxes.calls())
            texts.push_back(c.text);
        return texts;
    }
    bool waitForBoxes(std::size_t count) const
    {
        return QTest::qWaitFor([&] { return m_boxes.calls().size() >= count; }, 10000);
    }
    // Account 1 sends through the scripted server on loopback.
    static void accountsOn(int port, const std::string& host = "127.0.0.1")
    {
        storeAccounts({"first", "second"}, 1);
        MailAccountStore store;
        MailAccount a = store.read(1);
        a.smtpServer = host;
        a.smtpPort = std::to_string(port);
        store.write(1, a);
    }
    static void fill(CSendFrame* f, const std::string& to, const std::string& subject, const std::string& body)
    {
        CSendHeaderBar::setText(f->headerBar()->toBox(), to);
        CSendHeaderBar::setText(f->headerBar()->subjectBox(), subject);
        f->view()->setText(body);
    }

    ProfileSandbox m_sandbox;
    orvalink::test::TempDir m_mailDir{"orvalink-mail"};
    platform::MessageBoxRecorder m_boxes;
    MailState m_side;
};

TEST_F(ComposeWindows, FrameHasItsMenuToolbarStatusBarAndHeaderBar)
{
    storeAccounts({"first", "second", "third"}, 1);
    CSendFrame* f = open();
    ASSERT_NE(f, nullptr);

    QStringList menus;
    for (QAction* a : f->menuBar()->actions())
        menus << a->text();
    EXPECT_EQ(menus, QStringList({qs("ﾌｧｲﾙ(&F)"), qs("編集(&E)"), qs("操作(&O)")}));
    const struct {
        int id;
        const char* label;
        const char* status;
        bool enabled;
    } items[] = {
        {res::kCmdFileSave, "保存", "", true},
        {res::kCmdComposeQuit, "終了", "このメールの編集を終了します", false},
        {res::kCmdEditUndo, "元に戻す", "", true},
        {res::kCmdEditCut, "切り取り", "", true},
        {res::kCmdEditCopy, "コピー", "", true},
        {res::kCmdEditPaste, "貼り付け", "", true},
        {res::kCmdComposeSend, "メール送信(&S)", "このメールを送信します", true},
        {res::kCmdComposeSave, nullptr, "このメールを保存します", true},
    };
    for (const auto& item : items) {
        QAction* a = f->action(item.id);
        ASSERT_NE(a, nullptr) << item.id;
        if (item.label) {
            EXPECT_EQ(a->text(), qs(item.label)) << item.id;
        }
        EXPECT_EQ(a->statusTip(), qs(item.status)) << item.id;
        EXPECT_EQ(a->isEnabled(), item.enabled) << item.id;
    }

    const QList<QAction*> buttons = f->toolBar()->actions();
    ASSERT_EQ(buttons.size(), 4);
    EXPECT_EQ(buttons[0], f->action(res::kCmdComposeSend));
    EXPECT_EQ(buttons[1], f->action(res::kCmdComposeSave));
    EXPECT_TRUE(buttons[0]->isEnabled() && buttons[1]->isEnabled());
    EXPECT_FALSE(buttons[2]->isEnabled() || buttons[3]->isEnabled());
    for (QAction* b : buttons)
        EXPECT_FALSE(b->icon().isNull());
    for (const char* pane : {"KANA", "CAPS", "NUM", "SCRL"})
        EXPECT_NE(f->statusBar()->findChild<QLabel*>(pane), nullptr) << pane;
    EXPECT_FALSE(f->windowIcon().isNull());

    CSendHeaderBar* bar = f->headerBar();
    EXPECT_EQ(bar->objectName(), "175");
    QStringList labels;
    for (QLabel* l : bar->findChildren<QLabel*>())
        labels << l->text();
    EXPECT_TRUE(labels.contains(qs("差出人")) && labels.contains(qs("題名")));
    EXPECT_EQ(bar->findChild<QPushButton*>("1042")->text(), qs("受取人"));
    EXPECT_EQ(bar->findChild<QCheckBox*>("1026")->text(), qs("差出人保存"));
    EXPECT_EQ(bar->findChild<QCheckBox*>("1027")->text(), qs("受取人保存"));
    EXPECT_EQ(bar->findChild<QCheckBox*>("1028")->text(), qs("題名保存"));
    for (const char* box : {"1029", "1030", "1031"})
        EXPECT_TRUE(bar->findChild<QComboBox*>(box)->isEditable()) << box;

    // The From list holds the accounts' names; its text is account 1's address.
    QStringList from;
    for (int i = 0; i < bar->fromBox()->count(); ++i)
        from << bar->fromBox()->itemText(i);
    EXPECT_EQ(from, QStringList({"first", "second", "third"}));
    EXPECT_EQ(f->fromText(), "first@example.jp");
    EXPECT_EQ(bar->toBox()->count(), 0);
    EXPECT_EQ(bar->subjectBox()->count(), 0);
    EXPECT_EQ(f->view()->maxCharacters(), 64000);
    EXPECT_EQ(f->view()->lineWrapMode(), QPlainTextEdit::NoWrap);
}

TEST_F(ComposeWindows, OpeningValuesAndAccountsFillTheBoxes)
{
    // More accounts than the tables hold never overrun them: the list stops at 100.
    storeAccounts({"a", "b"}, 1);
    m_sandbox.profile().writeInt(MailAccountStore::kSection, "Count", 150);
    CSendFrame* f = open("taro@example.jp", sj("件名です"));
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->headerBar()->fromBox()->count(), 100);
    EXPECT_EQ(f->toText(), "taro@example.jp");
    EXPECT_EQ(f->subjectText(), sj("件名です"));
    EXPECT_EQ(f->windowTitle(), qs("件名です"));
    EXPECT_FALSE(f->holdsTypedText());
    delete f;

    // No account: the From list and its text are empty.
    m_sandbox.profile().writeInt(MailAccountStore::kSection, "Count", 0);
    f = open();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->headerBar()->fromBox()->count(), 0);
    EXPECT_EQ(f->fromText(), "");
}

TEST_F(ComposeWindows, RectangleAndCheckBoxesAreReadAtOpeningAndWrittenAtClosing)
{
    auto& p = m_sandbox.profile();
    const char* s = CSendFrame::kSection;
    p.writeInt(s, "Left", 40);
    p.writeInt(s, "top", 30);
    p.writeInt(s, "Right", 440);
    p.writeInt(s, "Bottom", 330);
    p.writeInt(s, "From Save", 1);
    p.writeInt(s, "To Save", 0);
    p.writeInt(s, "Subject Save", 7);
    CSendFrame* f = open();
    ASSERT_NE(f, nullptr);
    // The stored rectangle is the frame, title bar and borders included, as the chat windows keep theirs.
    EXPECT_EQ(f->frameGeometry(), QRect(40, 30, 400, 300));
    EXPECT_TRUE(f->headerBar()->fromSave()->isChecked());
    EXPECT_FALSE(f->headerBar()->toSave()->isChecked());
    EXPECT_TRUE(f->headerBar()->subjectSave()->isChecked());

    f->headerBar()->fromSave()->setChecked(false);
    f->headerBar()->toSave()->setChecked(true);
    f->move(50, 60); // moves the frame
    f->resize(500 - (f->frameGeometry().width() - f->width()), 450 - (f->frameGeometry().height() - f->height()));
    ASSERT_EQ(f->frameGeometry(), QRect(50, 60, 500, 450));
    closeBox(f);
    EXPECT_EQ(p.getInt(s, "Left", 0), 50);
    EXPECT_EQ(p.getInt(s, "top", 0), 60);
    EXPECT_EQ(p.getInt(s, "Right", 0), 550);
    EXPECT_EQ(p.getInt(s, "Bottom", 0), 510);
    // The key is spelt "top" in the file, as other programs reading the settings expect.
    const std::string file = orvalink::test::readFile(p.filePath());
    EXPECT_NE(file.find("\ntop=60"), std::string::npos) << file;
    EXPECT_EQ(file.find("\nTop="), std::string::npos) << file;
    EXPECT_EQ(p.getInt(s, "From Save", -1), 0);
    EXPECT_EQ(p.getInt(s, "To Save", -1), 1);
    EXPECT_EQ(p.getInt(s, "Subject Save", -1), 1);
}

TEST_F(ComposeWindows, ARectangleOnNoScreenIsBroughtBackOntoOne)
{
    // A screen since removed, or a hand-edited store: the window must still open where it can be reached.
    auto& p = m_sandbox.profile();
    const char* s = CSendFrame::kSection;
    p.writeInt(s, "Left", 9000);
    p.writeInt(s, "top", -7000);
    p.writeInt(s, "Right", 9400);
    p.writeInt(s, "Bottom", -6700);
    CSendFrame* f = open();
    ASSERT_NE(f, nullptr);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.contains(f->frameGeometry()))
        << "frame at " << f->frameGeometry().x() << "," << f->frameGeometry().y() << " outside the screen";
    EXPECT_EQ(f->frameGeometry().size(), QSize(400, 300));
    closeBox(f);
    EXPECT_TRUE(screen.contains(QRect(QPoint(p.getInt(s, "Left", 0), p.getInt(s, "top", 0)),
                                      QPoint(p.getInt(s, "Right", 0) - 1, p.getInt(s, "Bottom", 0) - 1))));
}

TEST_F(ComposeWindows, SlotsAreTakenFromTheFirstFreeAndTheHundredAndFirstIsRefused)
{
    CSendThread* a = OpenComposeWindow(m_side, {}, {});
    CSendThread* b = OpenComposeWindow(m_side, {}, {});
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->windowSlot(), 0);
    EXPECT_EQ(b->windowSlot(), 1);
    closeBox(a->frame());
    EXPECT_FALSE(isOpen(0));
    EXPECT_TRUE(isOpen(1));
    CSendThread* c = OpenComposeWindow(m_side, {}, {});
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->windowSlot(), 0);

    for (int i = 2; i < kMaxComposeWindows; ++i)
        ASSERT_NE(OpenComposeWindow(m_side, {}, {}), nullptr) << i;
    EXPECT_TRUE(m_boxes.calls().empty());
    EXPECT_EQ(OpenComposeWindow(m_side, {}, {}), nullptr);
    EXPECT_EQ(boxTexts(), std::vector<std::string>{mail::tooManyWindowsText()});
    EXPECT_EQ(m_side.composeThreads().openCount(), kMaxComposeWindows);
}

TEST_F(ComposeWindows, SlotsAndSettingsBelongToTheirOwner)
{
    // A second owner is a second set of slots: nothing is shared through a global.
    MailState other;
    other.sendSettings().setSilenceLimitMs(5);
    CSendThread* t = OpenComposeWindow(other, {}, {});
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->windowSlot(), 0);
    EXPECT_EQ(&t->mailState(), &other);
    EXPECT_EQ(other.composeThreads().openCount(), 1);
    EXPECT_EQ(m_side.composeThreads().openCount(), 0);
    EXPECT_EQ(m_side.sendSettings().silenceLimitMs(), mail::kReplyTimeoutSeconds * 1000);
    closeBox(t->frame());
    EXPECT_EQ(other.composeThreads().openCount(), 0);
}

TEST_F(ComposeWindows, SaveAppendsTheFieldsAndBodyAndClosesTheWindow)
{
    const struct {
        std::string body;
        std::string stored;
    } cases[] = {
        {"", ""},
        {sj("一行目\r\n二行目"), sj("一行目\r\n二行目")},
    };
    std::uint64_t offset = 0;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        CSendFrame* f = open();
        ASSERT_NE(f, nullptr);
        CSendHeaderBar::setText(f->headerBar()->fromBox(), "me@example.jp");
        fill(f, "you@example.jp", sj("題") + std::to_string(i), cases[i].body);
        const int slot = f->thread()->windowSlot();
        EXPECT_TRUE(f->onMailSave());
        settleDeletes();
        EXPECT_FALSE(isOpen(slot));

        const auto listing = savedMail();
        ASSERT_TRUE(listing && listing->entries.size() == i + 1);
        const store::IndexRecord& r = listing->entries[i].record;
        EXPECT_EQ(r.status, store::kStatusRead);
        EXPECT_EQ(r.sender, "me@example.jp");
        EXPECT_EQ(r.recipient, "you@example.jp");
        EXPECT_EQ(r.subject, sj("題") + std::to_string(i));
        EXPECT_EQ(r.mailer, "Orvalink Version 1.0");
        EXPECT_EQ(r.bodySize, cases[i].stored.size());
        EXPECT_EQ(savedMailbox().substr(offset), cases[i].stored);
        offset += cases[i].stored.size();
    }
    EXPECT_TRUE(m_boxes.calls().empty());
}

// With no mail directory chosen, a saved mail goes into the default one, made for it.
TEST_F(ComposeWindows, SaveWithNoMailDirectoryChosenUsesTheDefaultOne)
{
    m_side.directory().set("");
    const std::string dir = m_sandbox.dataHome() + "/Orvalink/Mail";
    CSendFrame* f = open();
    fill(f, "you@example.jp", "kept", "body");
    EXPECT_TRUE(f->onMailSave());
    settleDeletes();
    EXPECT_EQ(std::filesystem::status(dir).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
    const auto listing = store::readFolderIndex(*store::folderFsPath(dir, store::kSavedFolder));
    ASSERT_TRUE(listing && listing->entries.size() == 1);
    EXPECT_EQ(listing->entries[0].record.subject, "kept");
    EXPECT_TRUE(m_boxes.calls().empty());
}

// A composition is saved under whatever folder the user picked, in the folder of the usual name.
TEST_F(ComposeWindows, SavesIntoAMailDirectoryNoCodePage932TextNames)
{
    for (const std::string_view name : orvalink::test::kFolderNamesBeyondCodePage932) {
        const std::string mailDir = m_mailDir.path() + "/" + std::string(name);
        SCOPED_TRACE(platform::escapeBytes(mailDir));
        ASSERT_TRUE(std::filesystem::create_directory(mailDir));
        m_side.directory().setPath(mailDir);
        CSendFrame* f = open();
        ASSERT_NE(f, nullptr);
        fill(f, "you@example.jp", sj("題"), sj("一行目\r\n二行目"));
        EXPECT_TRUE(f->onMailSave());
        settleDeletes();

        const std::string folder = *store::folderFsPath(mailDir, store::kSavedFolder);
        EXPECT_EQ(folder, mailDir + "/保存したメール");
        const auto listing = store::readFolderIndex(folder);
        ASSERT_TRUE(listing && listing->entries.size() == 1);
        EXPECT_EQ(listing->entries[0].record.subject, sj("題"));
        EXPECT_EQ(store::readFolderMessage(folder, listing->entries[0]), sj("一行目\r\n二行目"));
    }
    EXPECT_TRUE(m_boxes.calls().empty());
}

TEST_F(ComposeWindows, RefusedSaveSaysWhyAndKeepsTheWindowAndItsTexts)
{
    const struct {
        std::string mailDir;
        store::StoreResult why;
    } cases[] = {
        // A folder the user chose is never made by the program (no folder chosen: the default one).
        {m_mailDir.path() + "/no-such-folder", store::StoreResult::CannotOpen},
    };
    for (const auto& c : cases) {
        m_side.directory().set(c.mailDir);
        CSendFrame* f = open();
        ASSERT_NE(f, nullptr);
        fill(f, "you@example.jp", "subject", "body");
        EXPECT_FALSE(f->onMailSave());
        settleDeletes();
        ASSERT_TRUE(isOpen(f->thread()->windowSlot()));
        EXPECT_EQ(f->toText(), "you@example.jp");
        EXPECT_EQ(f->bodyText(), "body");
        ASSERT_FALSE(m_boxes.calls().empty());
        EXPECT_EQ(m_boxes.calls().back().text, std::string(store::storeResultText(c.why)));
        delete f;
    }
    m_side.directory().set(m_mailDir.path());
    EXPECT_TRUE(savedMail()->entries.empty());
}

TEST_F(ComposeWindows, ClosingTypedTextAsksWhetherToSave)
{
    const struct {
        int answer;
        bool closed;
        std::size_t saved;
    } cases[] = {
        {platform::IDYES, true, 1},
        {platform::IDNO, true, 1},
        {platform::IDCANCEL, false, 1},
    };
    for (const auto& c : cases) {
        CSendFrame* f = open();
        ASSERT_NE(f, nullptr);
        const int slot = f->thread()->windowSlot();
        fill(f, "", "", sj("本文"));
        m_boxes.pushAnswer(c.answer);
        const std::size_t asked = m_boxes.calls().size();
        closeBox(f);
        ASSERT_EQ(m_boxes.calls().size(), asked + 1);
        EXPECT_EQ(m_boxes.calls().back().text, mail::saveQuestionText());
        EXPECT_EQ(m_boxes.calls().back().caption, mail::captionText());
        EXPECT_EQ(m_boxes.calls().back().type & 0xF, platform::MB_YESNOCANCEL);
        EXPECT_EQ(!isOpen(slot), c.closed) << c.answer;
        EXPECT_EQ(savedMail()->entries.size(), c.saved) << c.answer;
        if (!c.closed) {
            EXPECT_EQ(f->bodyText(), sj("本文"));
            delete f;
        }
    }
    // A window nothing was typed into closes without a question.
    CSendFrame* f = open();
    const std::size_t asked = m_boxes.calls().size();
    closeBox(f);
    EXPECT_EQ(m_boxes.calls().size(), asked);
    EXPECT_EQ(m_side.composeThreads().openCount(), 0);
}

// Paste and drop go through insertFromMimeData.
struct PastableView : CSendView {
    using CSendView::insertFromMimeData;
};

TEST_F(ComposeWindows, BodyTakesSixtyFourThousandCharactersAndEndsLinesWithCrLf)
{
    PastableView view;
    view.show();
    view.setPlainText(QString(CSendView::kMaxCharacters - 1, u'a'));
    view.moveCursor(QTextCursor::End);
    QTest::keyClick(&view, Qt::Key_B);
    QTest::keyClick(&view, Qt::Key_C);
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_EQ(view.characterCount(), CSendView::kMaxCharacters);
    EXPECT_EQ(view.toPlainText().right(2), "ab");
    // A paste is cut to the room left, never between the halves of a surrogate pair.
    QTest::keyClick(&view, Qt::Key_Backspace);
    QMimeData paste;
    paste.setText(QString::fromUtf8("😀x"));
    view.insertFromMimeData(&paste);
    EXPECT_EQ(view.characterCount(), CSendView::kMaxCharacters - 1);

    view.setText(sj("一\r\n\r\n二\r\n"));
    EXPECT_EQ(view.toPlainText(), qs("一\n\n二\n"));
    EXPECT_EQ(view.text(), sj("一\r\n\r\n二\r\n"));
}

TEST_F(ComposeWindows, WindowsOpenAtProgramEndKeepWhatWasTyped)
{
    CSendFrame* typed = open();
    fill(typed, "you@example.jp", "kept", "typed body");
    ASSERT_NE(open(), nullptr);
    closeAllComposeWindows(m_side);
    settleDeletes();
    EXPECT_EQ(m_side.composeThreads().openCount(), 0);
    EXPECT_TRUE(m_boxes.calls().empty());
    const auto listing = savedMail();
    ASSERT_EQ(listing->entries.size(), 1u);
    EXPECT_EQ(listing->entries[0].record.subject, "kept");
    EXPECT_EQ(savedMailbox(), "typed body");
}

TEST_F(ComposeWindows, SendAndReceiveWithNothingToReceiveSaysWhyAndCloses)
{
    ReceiveCommand receive(m_side.directory());
    CSendRecvThread* t = m_side.sendRecvWindow().open(receive);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->dialog()->windowTitle(), qs("送受信"));
    // No account: the receive window says so, and there is no download to show.
    EXPECT_EQ(boxTexts(), std::vector<std::string>{sj("サーバー情報がありません")});
    settleDeletes();
    EXPECT_EQ(m_side.sendRecvWindow().current(), nullptr);
}

// A POP3 account on the scripted server: log-in, STAT for `count` messages, no UIDL.
void popAccountOn(int port)
{
    storeAccounts({"home"}, 1);
    MailAccountStore store;
    MailAccount a = store.read(1);
    a.popServer = orvalink::test::kPrivateHostAddress;
    a.popPort = std::to_string(port);
    a.popAccount = "taro";
    a.popPassword = "secret";
    store.write(1, a);
}

bool popLogIn(ScriptedPop3Server::Peer& p, int count)
{
    p.send("+OK ready\r\n");
    return p.expect("USER taro", "+OK\r\n") && p.expect("PASS secret", "+OK\r\n") &&
           p.expect("STAT", "+OK " + std::to_string(count) + " 60\r\n") && p.expect("UIDL", "-ERR no UIDL here\r\n");
}

TEST_F(ComposeWindows, SendAndReceiveReceivesAsTheReceiveCommandAndClosesWhenDone)
{
    ORVALINK_REQUIRE_PRIVATE_NETWORK();
    const std::string mail = "Subject: one\r\n\r\nbody of one\r\n";
    ScriptedPop3Server server(orvalink::test::kPrivateHostAddress, {[&](ScriptedPop3Server::Peer& p) {
                                  if (popLogIn(p, 1) && p.expect("LIST 1", "+OK 1 60\r\n"))
                                      p.expect("RETR 1", "+OK\r\n" + mail + ".\r\n") && p.expect("QUIT", "+OK bye\r\n");
                              }});
    popAccountOn(server.port());
    ReceiveCommand receive(m_side.directory());
    CSendRecvThread* t = m_side.sendRecvWindow().open(receive);
    ASSERT_NE(t, nullptr);
    QPointer<CSendRecvDlg> dlg = t->dialog();
    ASSERT_TRUE(dlg && receive.dialog());
    EXPECT_EQ(m_side.sendRecvWindow().open(receive), t) << "one window";
    EXPECT_EQ(dlg->cancelButton()->text(), qs("中止(&C)"));
    // What the receive window shows, this window shows too.
    std::vector<std::string> shown;
    QObject::connect(receive.dialog(), &ReceiveDialog::reportShown, dlg, [&] {
        if (dlg)
            shown.push_back(platform::fromQString(dlg->statusLine()->text()) + " " +
                            std::to_string(dlg->progressBar()->value()) + "/" +
                            std::to_string(dlg->progressBar()->maximum()));
    });
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            settleDeletes();
            return dlg.isNull();
        },
        15000));
    EXPECT_EQ(m_side.sendRecvWindow().current(), nullptr);
    EXPECT_EQ(server.commands(),
              (std::vector<std::string>{"USER taro", "PASS secret", "STAT", "UIDL", "LIST 1", "RETR 1", "QUIT"}));
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back().substr(shown.back().size() - 5), "60/60") << shown.back();
    const auto folder = store::folderFsPath(m_mailDir.path(), store::kReceivedFolder);
    const auto listing = store::readFolderIndex(*folder);
    ASSERT_TRUE(listing && listing->entries.size() == 1);
    EXPECT_NE(store::readFolderMessage(*folder, listing->entries[0]).value_or("").find("body of one"),
              std::string::npos);
    EXPECT_TRUE(m_boxes.calls().empty());
}

TEST_F(ComposeWindows, SendAndReceiveCancelStopsTheDownloadAndCloses)
{
    ORVALINK_REQUIRE_PRIVATE_NETWORK();
    ScriptedPop3Server server(orvalink::test::kPrivateHostAddress, {[&](ScriptedPop3Server::Peer& p) {
                                  // Logged in, the server goes quiet until the client gives up.
                                  if (popLogIn(p, 1))
                                      while (p.line(15000)) {
                                      }
                              }});
    popAccountOn(server.port());
    ReceiveCommand receive(m_side.directory());
    CSendRecvThread* t = m_side.sendRecvWindow().open(receive);
    ASSERT_NE(t, nullptr);
    QPointer<CSendRecvDlg> dlg = t->dialog();
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.commands().size() >= 5; }, 10000)); // LIST 1 sent
    QTest::mouseClick(dlg->cancelButton(), Qt::LeftButton);
    settleDeletes();
    EXPECT_TRUE(dlg.isNull());
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.commands().back() == "QUIT"; }, 10000));
}

// The conversation over a real connection to a scripted server on port 25 of the test's own
// private network.

using orvalink::test::ScriptedSmtpServer;
using Steps = std::vector<ScriptedSmtpServer::Step>;

// What the client of the server's first connection wrote, once that connection is over.
std::string transcript(const ScriptedSmtpServer& server)
{
    if (!QTest::qWaitFor([&] { return server.finishedSessions() >= 1; }, 10000))
        return "(still running)";
    const auto all = server.received();
    return all.empty() ? std::string() : all.front();
}

TEST_F(ComposeWindows, SendDeliversThroughAccountOneAndClosesTheWindow)
{
    ORVALINK_REQUIRE_PRIVATE_NETWORK();
    // A two-line greeting, its last line one byte per write; 251 to RCPT TO is success.
    Steps steps = {ScriptedSmtpServer::say("220-first line\r\n")};
    for (char c : std::string("220 ready\r\n"))
        steps.push_back(ScriptedSmtpServer::say(std::string(1, c)));
    for (auto& step : ScriptedSmtpServer::lockstep(
             {}, {"250 hello\r\n", "250 sender ok\r\n", "251 will forward\r\n", "354 go on\r\n", "250 queued\r\n"}))
        steps.push_back(std::move(step));
    ScriptedSmtpServer server(steps);
    ASSERT_TRUE(server.ready());
    accountsOn(25);
    CSendFrame* f = open();
    ASSERT_NE(f, nullptr);
    // What the From box shows has no say in the conversation.
    CSendHeaderBar::setText(f->headerBar()->fromBox(), "second");
    fill(f, "taro@example.jp", "hello", ".\r\n" + sj("日本語"));
    const int slot = f->thread()->windowSlot();
    f->onCommand(res::kCmdComposeSend);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !isOpen(slot); }, 10000));

    const std::string got = transcript(server);
    EXPECT_EQ(
        got.rfind("HELO " + hostName() + "\r\nMAIL FROM:<first@example.jp>\r\nRCPT TO:<taro@example.jp>\r\nDATA\r\n",
                  0),
        0u)
        << got;
    EXPECT_NE(got.find("\r\nSubject: hello\r\nTo: taro@example.jp\r\n"), std::string::npos) << got;
    EXPECT_NE(got.find("\r\n\r\n..\r\n"), std::string::npos) << got;
    EXPECT_EQ(got.substr(got.size() - 11), "\r\n.\r\nQUIT\r\n");
    EXPECT_TRUE(m_boxes.calls().empty());
    EXPECT_TRUE(savedMail()->entries.empty());
    // What the server accepted is kept in 送信したメール, read, like a saved composition.
    const std::string sentFolder = *store::folderFsPath(m_mailDir.path(), store::kSentFolder);
    const auto sent = store::readFolderIndex(sentFolder);
    ASSERT_TRUE(sent);
    ASSERT_EQ(sent->entries.size(), 1u);
    const store::IndexRecord& r = sent->entries[0].record;
    EXPECT_EQ(r.status, store::kStatusRead);
    EXPECT_EQ(r.sender, "second");
    EXPECT_EQ(r.recipient, "taro@example.jp");
    EXPECT_EQ(r.subject, "hello");
    EXPECT_EQ(r.mailer, store::kSavedMailer);
    EXPECT_FALSE(r.arrivalDate.empty());
    EXPECT_EQ(orvalink::test::readFile(sentFolder + ".mbx"), ".\r\n" + sj("日本語"));
}

TEST_F(ComposeWindows, SecondSendIsIgnoredAndClosingSaysGoodbyeToTheServer)
{
    ORVALINK_REQUIRE_PRIVATE_NETWORK();
    // The server greets, takes HELO and then only listens.
    ScriptedSmtpServer server({ScriptedSmtpServer::say("220 ready\r\n"), ScriptedSmtpServer::silence()});
    ASSERT_TRUE(server.ready());
    accountsOn(25);
    CSendFrame* f = open();
    fill(f, "taro@example.jp", "s", "b");
    const int slot = f->thread()->windowSlot();
    f->onCommand(res::kCmdComposeSend);
    ASSERT_TRUE(QTest::qWaitFor([&] { return f->smtpState() == 2; }, 10000));
    EXPECT_FALSE(f->action(res::kCmdComposeSend)->isEnabled());
    f->onCommand(res::kCmdComposeSend);
    f->onMailSend();

    m_boxes.pushAnswer(platform::IDNO);
    closeBox(f);
    EXPECT_FALSE(isOpen(slot));
    EXPECT_EQ(transcript(server), "HELO " + hostName() + "\r\nQUIT\r\n");
    EXPECT_EQ(server.received().size(), 1u);
    // Nothing was accepted, so nothing is kept as sent.
    EXPECT_TRUE(store::readFolderIndex(*store::folderFsPath(m_mailDir.path(), store::kSentFolder))->entries.empty());
    EXPECT_EQ(boxTexts(), std::vector<std::string>{mail::saveQuestionText()});
}

TEST_F(ComposeWindows, FailedConversationsAreShownAndKeepTheWindowAndItsTexts)
{
    ORVALINK_REQUIRE_PRIVATE_NETWORK();
    m_side.sendSettings().setSilenceLimitMs(300);
    const struct {
        const char* name;
        Steps steps; // empty: nothing listens
        std::string_view error;
        bool quit; // QUIT follows the error
    } cases[] = {
        {"sender rejected",
         ScriptedSmtpServer::lockstep({"220 ready\r\n"}, {"250 hello\r\n", "550 5.7.1 no relay\r\n"}),
         mail::kErrorSenderRejected, true},
        {"reply to HELO is not 250", ScriptedSmtpServer::lockstep({"220 ready\r\n"}, {"421 busy\r\n"}),
         mail::kErrorNotSmtpServer, true},
        {"server never answers", {ScriptedSmtpServer::silence()}, mail::kErrorTimeout, true},
        // After "354" the server reads one line of the mail and drops the connection.
        {"connection dropped during data",
         ScriptedSmtpServer::lockstep({"220 ready\r\n"},
                                      {"250 hello\r\n", "250 ok\r\n", "250 ok\r\n", "354 go on\r\n"}),
         mail::kErrorConnectionLost, false},
        {"connection refused", {}, mail::kErrorConnectFailed, false},
    };
    for (const auto& k : cases) {
        std::unique_ptr<ScriptedSmtpServer> server;
        if (!k.steps.empty()) {
            server = std::make_unique<ScriptedSmtpServer>(k.steps);
            ASSERT_TRUE(server->ready()) << k.name;
        }
        accountsOn(25);
        CSendFrame* f = open();
        fill(f, "taro@example.jp", "subject", "body");
        const std::size_t before = m_boxes.calls().size();
        f->onCommand(res::kCmdComposeSend);
        ASSERT_TRUE(waitForBoxes(before + 1)) << k.name;
        const std::string shown = m_boxes.calls().back().text;
        EXPECT_EQ(shown.rfind(std::string(k.error), 0), 0u) << k.name << ": " << shown;
        ASSERT_TRUE(QTest::qWaitFor([&] { return f->smtpState() == 0; }, 5000)) << k.name;
        EXPECT_TRUE(f->action(res::kCmdComposeSend)->isEnabled()) << k.name;
        EXPECT_TRUE(isOpen(f->thread()->windowSlot())) << k.name;
        EXPECT_EQ(f->toText(), "taro@example.jp");
        EXPECT_EQ(f->subjectText(), "subject");
        EXPECT_EQ(f->bodyText(), "body");
        if (server) {
            const std::string got = transcript(*server);
            EXPECT_EQ(got.size() >= 6 && got.substr(got.size() - 6) == "QUIT\r\n", k.quit) << k.name << ": " << got;
        }
        delete f;
    }
}

TEST_F(ComposeWindows, SendIsRefusedWithAReasonBeforeAnyConnection)
{
    ORVALINK_REQUIRE_PRIVATE_NETWORK();
    const struct {
        const char* name;
        int count; // accounts stored
        std::string host;
        std::string_view error;
    } cases[] = {
        {"no account", 0, "127.0.0.1", mail::kErrorNoAccount},
        {"no SMTP server named", 2, "", mail::kErrorConnectFailed},
    };
    for (const auto& k : cases) {
        accountsOn(2525, k.host);
        m_sandbox.profile().writeInt(MailAccountStore::kSection, "Count", k.count);
        CSendFrame* f = open();
        fill(f, "taro@example.jp", "subject", "body");
        const std::size_t before = m_boxes.calls().size();
        f->onCommand(res::kCmdComposeSend);
        ASSERT_TRUE(waitForBoxes(before + 1)) << k.name;
        EXPECT_EQ(m_boxes.calls().back().text.rfind(std::string(k.error), 0), 0u)
            << k.name << ": " << m_boxes.calls().back().text;
        ASSERT_TRUE(QTest::qWaitFor([&] { return f->action(res::kCmdComposeSend)->isEnabled(); }, 5000));
        EXPECT_EQ(f->bodyText(), "body");
        delete f;
    }
}

// While it lives, no socket of this network namespace can be given a port of its own: the range
// of ports handed out is narrowed to one port, which a socket of its own holds.
class NoFreePorts {
public:
    NoFreePorts()
    {
        std::ifstream("/proc/sys/net/ipv4/ip_local_port_range") >> m_low >> m_high;
        m_holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        socklen_t length = sizeof addr;
        if (m_holder < 0 || m_low == 0 || ::bind(m_holder, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::getsockname(m_holder, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
            return;
        const unsigned port = ntohs(addr.sin_port);
        std::ofstream range("/proc/sys/net/ipv4/ip_local_port_range");
        range << port << ' ' << port << std::flush;
        m_active = range.good();
    }
    ~NoFreePorts()
    {
        if (m_active)
            std::ofstream("/proc/sys/net/ipv4/ip_local_port_range") << m_low << ' ' << m_high << std::flush;
        if (m_holder >= 0)
            ::close(m_holder);
    }
    NoFreePorts(const NoFreePorts&) = delete;
    NoFreePorts& operator=(const NoFreePorts&) = delete;
    bool active() const { return m_active; }

private:
    unsigned m_low = 0;
    unsigned m_high = 0;
    int m_holder = -1;
    bool m_active = false;
};

TEST_F(ComposeWindows, SendThatCannotBeginSaysWhyAndKeepsTheWindowAndItsTexts)
{
    ORVALINK_REQUIRE_PRIVATE_NETWORK();
    enum class Block { Service, Socket };
    const struct {
        const char* name;
        Block block;
        std::string_view error;
    } cases[] = {
        {"service unknown to this machine", Block::Service, mail::kUnknownServiceName},
        {"no socket can be made", Block::Socket, mail::kSocketCreationFailed},
    };
    for (const auto& k : cases) {
        accountsOn(2525);
        CSendFrame* f = open();
        fill(f, "taro@example.jp", "subject", "body");
        const std::size_t before = m_boxes.calls().size();
        {
            std::unique_ptr<NoFreePorts> noPorts;
            if (k.block == Block::Service) {
                m_side.sendSettings().setServiceName("no-such-service-here");
            } else {
                noPorts = std::make_unique<NoFreePorts>();
                ASSERT_TRUE(noPorts->active()) << k.name;
            }
            f->onCommand(res::kCmdComposeSend);
            const bool shown = waitForBoxes(before + 1);
            noPorts.reset();
            m_side.sendSettings().setServiceName({});
            ASSERT_TRUE(shown) << k.name;
        }
        EXPECT_EQ(m_boxes.calls().back().text, std::string(k.error)) << k.name;
        ASSERT_TRUE(QTest::qWaitFor([&] { return f->action(res::kCmdComposeSend)->isEnabled(); }, 5000)) << k.name;
        EXPECT_EQ(f->smtpState(), 0) << k.name;
        EXPECT_TRUE(isOpen(f->thread()->windowSlot())) << k.name;
        EXPECT_EQ(f->toText(), "taro@example.jp");
        EXPECT_EQ(f->subjectText(), "subject");
        EXPECT_EQ(f->bodyText(), "body");
        delete f;
    }
}

TEST_F(ComposeWindows, PortComesFromTheAccountAndATextNamingNoPortIsRefusedUnsent)
{
    ORVALINK_REQUIRE_PRIVATE_NETWORK();
    const struct {
        const char* text;
        int port; // 0: refused, nothing connects (a server listens on 25 all the same)
    } cases[] = {{"", 25},     {"2525", 2525}, {"65535", 65535}, {"0", 0},
                 {"65536", 0}, {"99999", 0},   {"-1", 0},        {"smtp", 0}};
    for (const auto& c : cases) {
        ScriptedSmtpServer server(ScriptedSmtpServer::lockstep({"554 go away\r\n"}, {}), c.port ? c.port : 25);
        ASSERT_TRUE(server.ready()) << c.text;
        accountsOn(25);
        MailAccountStore store;
        MailAccount a = store.read(1);
        a.smtpPort = c.text;
        store.write(1, a);
        CSendFrame* f = open();
        fill(f, "taro@example.jp", "subject", "body");
        const std::size_t before = m_boxes.calls().size();
        f->onCommand(res::kCmdComposeSend);
        ASSERT_TRUE(waitForBoxes(before + 1)) << c.text;
        if (c.port) {
            EXPECT_EQ(transcript(server), "QUIT\r\n") << c.text;
        } else {
            EXPECT_EQ(m_boxes.calls().back().text, badSmtpPortText(c.text));
            EXPECT_EQ(m_boxes.calls().back().type, platform::MB_OK | platform::MB_ICONEXCLAMATION);
            QTest::qWait(100);
            EXPECT_EQ(server.received().size(), 0u) << c.text;
            EXPECT_TRUE(f->action(res::kCmdComposeSend)->isEnabled());
            EXPECT_EQ(f->bodyText(), "body");
        }
        delete f;
    }
}

TEST_F(ComposeWindows, AddressesThatAreNotOneMailboxAreRefusedBeforeAnythingConnects)
{
    ORVALINK_REQUIRE_PRIVATE_NETWORK();
    const struct {
        const char* name;
        std::string to;
        std::string from; // account 1's address; empty: as stored
        std::string text;
    } cases[] = {
        {"parameter after the recipient", "a@x> NOTIFY=NEVER", "", badToAddressText()},
        {"Japanese recipient", sj("太郎") + "@example.jp", "", badToAddressText()},
        {"Japanese sender", "taro@example.jp", sj("私") + "@example.jp", badFromAddressText()},
    };
    ScriptedSmtpServer server(ScriptedSmtpServer::lockstep({"554 go away\r\n"}, {}), 25);
    ASSERT_TRUE(server.ready());
    for (const auto& k : cases) {
        accountsOn(25);
        if (!k.from.empty()) {
            MailAccountStore store;
            MailAccount a = store.read(1);
            a.emailAddress = k.from;
            store.write(1, a);
        }
        CSendFrame* f = open();
        fill(f, k.to, "subject", "body");
        const std::size_t before = m_boxes.calls().size();
        f->onCommand(res::kCmdComposeSend);
        ASSERT_TRUE(waitForBoxes(before + 1)) << k.name;
        EXPECT_EQ(m_boxes.calls().back().text, k.text) << k.name;
        EXPECT_EQ(m_boxes.calls().back().caption, captionText()) << k.name;
        EXPECT_EQ(f->toText(), k.to) << k.name;
        EXPECT_TRUE(f->action(res::kCmdComposeSend)->isEnabled()) << k.name;
        delete f;
    }
    QTest::qWait(100);
    EXPECT_EQ(server.received().size(), 0u);
}

TEST_F(ComposeWindows, ASettingCorrectedAfterTheWindowOpenedTakesEffectAtSend)
{
    ORVALINK_REQUIRE_PRIVATE_NETWORK();
    ScriptedSmtpServer server(ScriptedSmtpServer::lockstep(
        {"220 ready\r\n"}, {"250 hello\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n", "250 queued\r\n"}));
    ASSERT_TRUE(server.ready());
    // The window opens while account 1 names a port nobody listens on and an old address ...
    accountsOn(2626);
    CSendFrame* f = open();
    fill(f, "taro@example.jp", "s", "b");
    // ... which the user then corrects in the settings.
    MailAccountStore store;
    MailAccount a = store.read(1);
    a.smtpPort = "25";
    a.emailAddress = "fixed@example.jp";
    store.write(1, a);
    const int slot = f->thread()->windowSlot();
    f->onCommand(res::kCmdComposeSend);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !isOpen(slot); }, 10000)) << boxTexts().size();
    EXPECT_NE(transcript(server).find("MAIL FROM:<fixed@example.jp>\r\n"), std::string::npos);
    EXPECT_TRUE(m_boxes.calls().empty());
}

} // namespace

} // namespace orvalink::mail
