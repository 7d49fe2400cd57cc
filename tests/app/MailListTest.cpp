// The mail side of the main window: the folder's rows read from its index (decoded texts, counts,
// sorting by the moment and the size, the find filter), the read state written as exactly four
// bytes, a damaged index listed up to its last whole record, and the right pane switching between a
// folder and a group's chat rows.
#include "app/CChatListView.h"
#include "app/CLeftView.h"
#include "app/CMailListView.h"
#include "app/CMainFrame.h"
#include "app/ChatPaneState.h"
#include "app/MailRowSource.h"
#include "chat/ChatGroupTable.h"
#include "controls/CReportCtrl.h"
#include "mail/MailDirectory.h"
#include "platform/MessageBoxRecorder.h"
#include "platform/text/Cp932.h"
#include "res/ResourceIds.h"
#include "store/FolderTestSupport.h"
#include "store/MailFolders.h"
#include "support/SettingsSandbox.h"

#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QTest>
#include <filesystem>
#include <gtest/gtest.h>

namespace orvalink::app {

using controls::RCIS_BOLD;
using store::kReceivedFolder;
using test::ScratchDir;

namespace {

std::string sj(const char* utf8)
{
    return platform::utf8ToCp932(utf8);
}

std::string message(const std::string& from, const std::string& subject, const std::string& date,
                    const std::string& body = "body\r\n")
{
    return "Received: by x; " + date + "\r\nFrom: " + from + "\r\nTo: me@example.com\r\nSubject: " + subject +
           "\r\nDate: " + date + "\r\n\r\n" + body;
}

class MailList : public ::testing::Test {
protected:
    void SetUp() override { directory.setPath(dir.path()); }

    void file(const std::string& text)
    {
        ASSERT_EQ(test::fileMessage(dir, kReceivedFolder, text), store::StoreResult::Stored);
    }
    std::string received() const { return dir.folder(kReceivedFolder); }

    ScratchDir dir;
    mail::MailDirectory directory;
    test::SettingsSandbox settings;
    platform::MessageBoxRecorder boxes;
};

// The counts the bottom bar paints.
int barCount(const CMainFrame& frame, const char* which)
{
    return frame.centralWidget()->layout()->itemAt(1)->widget()->property(which).toInt();
}

} // namespace

TEST(MailFind, MatchesOnCharacterBoundariesFoldingOnlyAsciiLetters)
{
    const struct {
        std::string haystack;
        std::string needle;
        bool found;
    } cases[] = {
        {"Hello World", "wORLD", true},
        {"Hello", "", true},
        {"Hello", "hellO!", false},
        {sj("会議のお知らせ"), sj("お知らせ"), true},
        // "ア" is 83 41: its second byte is no letter A.
        {sj("ア"), "a", false},
        {sj("ア"), "A", false},
        // "表" is 95 5C: its second byte is no backslash.
        {sj("表"), "\\", false},
        {sj("表\\"), "\\", true},
        // A needle starting on a second byte never matches across a character.
        {sj("アイ"), std::string("\x41\x83", 2), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(containsCp932Folded(c.haystack, c.needle), c.found) << c.haystack << " / " << c.needle;
}

TEST_F(MailList, RowsShowDecodedTextsAndSortByMomentAndSize)
{
    // The dates' texts sort the other way round from the moments they mean.
    file(message("=?UTF-8?B?44GC44GE?= <ai@example.com>", "=?EUC-JP?B?xvzL3Ljs?=", "Wed, 9 Dec 2026 01:00:00 +0900",
                 std::string(20, 'x')));
    file(message("bob@example.com", "plain", "Tue, 8 Dec 2026 23:00:00 -0500", "short\r\n"));
    file(message("carol@example.com", "=?x-unknown?B?eA==?=", "not a date", std::string(100, 'y')));

    MailRowSource source;
    ASSERT_TRUE(source.load(received()));
    ASSERT_EQ(source.count(), 3);
    EXPECT_EQ(source.unreadCount(), 3);
    EXPECT_EQ(source.cellText(0, MailRowSource::kSender), sj("あい <ai@example.com>"));
    EXPECT_EQ(source.cellText(0, MailRowSource::kSubject), sj("日本語"));
    EXPECT_EQ(source.cellText(2, MailRowSource::kSubject), "=?x-unknown?B?eA==?=");
    EXPECT_EQ(source.cellText(1, MailRowSource::kDate), "Tue, 8 Dec 2026 23:00:00 -0500");
    // Stored fields are not changed by showing them.
    EXPECT_EQ(source.entry(0).record.subject, "=?EUC-JP?B?xvzL3Ljs?=");

    // 9 Dec 01:00 +0900 is 8 Dec 16:00 UTC, before 9 Dec 04:00 UTC; no date comes first.
    EXPECT_LT(source.compare(MailRowSource::kDate, 0, 1), 0);
    EXPECT_LT(source.compare(MailRowSource::kDate, 2, 0), 0);
    source.prepareSort(MailRowSource::kDate);
    EXPECT_LT(source.compare(MailRowSource::kDate, 0, 1), 0);
    EXPECT_GT(source.compare(MailRowSource::kDate, 1, 2), 0);
    // Sizes as numbers, not texts ("100..." < "20..." as text).
    const int size0 = std::stoi(source.cellText(0, MailRowSource::kSize));
    const int size2 = std::stoi(source.cellText(2, MailRowSource::kSize));
    ASSERT_LT(size0, size2);
    EXPECT_LT(source.compare(MailRowSource::kSize, 0, 2), 0);

    EXPECT_TRUE(source.matches(0, sj("日本")));
    EXPECT_TRUE(source.matches(1, "BOB"));
    EXPECT_FALSE(source.matches(1, "carol"));
}

TEST_F(MailList, NoMailDirectoryListsNothingAndTouchesNoFile)
{
    MailRowSource source;
    EXPECT_TRUE(source.load(""));
    EXPECT_EQ(source.count(), 0);
    EXPECT_FALSE(std::filesystem::exists(".idx"));
}

TEST_F(MailList, MarkingReadChangesExactlyTheFourStatusBytes)
{
    file(message("a@example.com", "one", "Tue, 8 Dec 2026 10:00:00 +0900"));
    file(message("b@example.com", "two", "Tue, 8 Dec 2026 11:00:00 +0900"));
    file(message("c@example.com", "three", "Tue, 8 Dec 2026 12:00:00 +0900"));
    const std::string indexPath = received() + ".idx";
    const std::string mailboxPath = received() + ".mbx";
    const std::string before = test::readBytes(indexPath);
    const std::string mailboxBefore = test::readBytes(mailboxPath);

    MailRowSource source;
    ASSERT_TRUE(source.load(received()));
    ASSERT_TRUE(source.markRead(1));
    const std::string after = test::readBytes(indexPath);
    ASSERT_EQ(after.size(), before.size());
    const std::size_t at = source.entry(1).indexOffset + 4;
    std::vector<std::size_t> changed;
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (before[i] != after[i])
            changed.push_back(i);
    }
    // The status word 1 becomes 0: only its first byte differs, and nothing outside the word.
    EXPECT_EQ(changed, std::vector<std::size_t>{at});
    EXPECT_EQ(after.substr(at, 4), std::string(4, '\0'));
    EXPECT_EQ(test::readBytes(mailboxPath), mailboxBefore);
    EXPECT_FALSE(source.unread(1));
    EXPECT_EQ(source.unreadCount(), 2);

    // Already read: nothing is written again.
    EXPECT_FALSE(source.markRead(1));
    // A record that is no longer where the list saw it is left alone.
    MailRowSource stale;
    ASSERT_TRUE(stale.load(received()));
    test::writeBytes(indexPath, after.substr(0, stale.entry(2).indexOffset) + std::string(12, '\x7f'));
    EXPECT_FALSE(stale.markRead(2));
    EXPECT_EQ(test::readBytes(indexPath).substr(stale.entry(2).indexOffset), std::string(12, '\x7f'));
}

TEST_F(MailList, DamagedOrCutIndexListsTheWholeRecordsAndSaysTheRestIsUnreadable)
{
    file(message("a@example.com", "one", "Tue, 8 Dec 2026 10:00:00 +0900"));
    file(message("b@example.com", "two", "Tue, 8 Dec 2026 11:00:00 +0900"));
    const std::string indexPath = received() + ".idx";
    const std::string whole = test::readBytes(indexPath);
    const struct {
        const char* what;
        std::string index;
        int rows;
        std::uint64_t unreadable;
    } cases[] = {
        {"whole", whole, 2, 0},
        {"cut inside the last record", whole.substr(0, whole.size() - 7), 1, 0},
        {"length word beyond the file", whole + test::le32(5000) + test::le32(1) + "abc", 2, 11},
        {"length word too short", whole + test::le32(3) + test::le32(1) + std::string(20, 'z'), 2, 28},
        {"a few stray bytes", whole + "xyz", 2, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::writeBytes(indexPath, c.index);
        MailRowSource source;
        ASSERT_TRUE(source.load(received()));
        EXPECT_EQ(source.count(), c.rows);
        // The cut record's bytes are the unreadable rest.
        const std::uint64_t expected =
            c.unreadable != 0 || c.rows == 2 ? c.unreadable : c.index.size() - source.entry(0).indexBytes;
        EXPECT_EQ(source.unreadableBytes(), expected);
        CMailListView view;
        view.showFolder(std::string(kReceivedFolder), received());
        EXPECT_EQ(view.shownCount(), c.rows);
        EXPECT_EQ(view.noticeLabel()->isHidden(), expected == 0);
        if (expected != 0) {
            EXPECT_TRUE(view.noticeLabel()->text().contains(QString::number(expected)));
        }
    }
    // Reading never repaired anything.
    EXPECT_EQ(test::readBytes(indexPath), whole + "xyz");
}

TEST_F(MailList, ListMarksUnreadRowsFiltersAsTypedAndOpensByEnter)
{
    file(message("alice@example.com", "Lunch", "Tue, 8 Dec 2026 10:00:00 +0900"));
    file(message("bob@example.com", sj("会議"), "Tue, 8 Dec 2026 11:00:00 +0900"));
    file(message("ALICE@example.com", "Report", "Tue, 8 Dec 2026 12:00:00 +0900"));

    CMailListView view;
    std::vector<int> opened;
    view.setOpener([&](const MailRowSource&, int index) { opened.push_back(index); });
    int changes = 0;
    QObject::connect(&view, &CMailListView::countsChanged, [&] { ++changes; });
    view.resize(600, 300);
    view.showFolder(std::string(kReceivedFolder), received());
    controls::CReportCtrl* ctrl = view.reportCtrl();
    ASSERT_EQ(ctrl->itemCount(), 3);
    for (int r = 0; r < 3; ++r) {
        controls::ReportItem item;
        item.item = r;
        item.subItem = 0;
        ASSERT_TRUE(ctrl->getItem(item));
        EXPECT_EQ(item.image, res::kReportImageUnread);
        EXPECT_TRUE(item.state & RCIS_BOLD);
        // The list keeps no text of its own: the texts come from the index when painted.
        EXPECT_TRUE(item.text.empty());
    }

    view.findBox()->setText("alice");
    EXPECT_EQ(view.shownCount(), 2);
    view.findBox()->setText(QString::fromUtf8("会"));
    ASSERT_EQ(view.shownCount(), 1);
    EXPECT_EQ(view.sourceIndex(0), 1);
    view.findBox()->clear();
    EXPECT_EQ(view.shownCount(), 3);

    // Sorting by subject descending, then Enter on the focused first row opens "Report"... by its
    // record, whatever its place in the list.
    view.show();
    view.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    ctrl->sortItems(MailRowSource::kSize, true);
    ctrl->sortItems(MailRowSource::kSender, false);
    ctrl->setFocus();
    QTest::keyClick(ctrl, Qt::Key_Home);
    const int focusedRow = ctrl->rowAt(ctrl->focusedPosition());
    const int index = view.sourceIndex(focusedRow);
    EXPECT_EQ(view.source().cellText(index, MailRowSource::kSender), "bob@example.com");
    changes = 0;
    QTest::keyClick(ctrl, Qt::Key_Return);
    EXPECT_EQ(opened, std::vector<int>{index});
    EXPECT_FALSE(view.source().unread(index));
    EXPECT_GT(changes, 0);
    controls::ReportItem item;
    item.item = focusedRow;
    item.subItem = 0;
    ASSERT_TRUE(ctrl->getItem(item));
    EXPECT_EQ(item.image, res::kReportImageRead);
    EXPECT_FALSE(item.state & RCIS_BOLD);

    // Ctrl+F goes to the find box.
    QTest::keyClick(ctrl, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(view.findBox()->hasFocus());
}

TEST_F(MailList, VirtualRowsSortByDecodedSenderWithAndWithoutTheFilter)
{
    file(message("=?UTF-8?B?44GC?= <z@example.com>", "note 1", "Tue, 8 Dec 2026 10:00:00 +0900"));
    file(message("b@example.com", "note 2", "Tue, 8 Dec 2026 11:00:00 +0900"));
    file(message("a@example.com", "other", "Tue, 8 Dec 2026 12:00:00 +0900"));
    CMailListView view;
    view.showFolder(std::string(kReceivedFolder), received());
    controls::CReportCtrl* ctrl = view.reportCtrl();
    // The list keeps no row of its own.
    EXPECT_TRUE(ctrl->model().isVirtual());
    const auto shown = [&] {
        std::vector<int> records;
        for (int p = 0; p < ctrl->itemCount(); ++p)
            records.push_back(view.sourceIndex(ctrl->rowAt(p)));
        return records;
    };
    // By the decoded sender: "b@..." before "あ" (0x82 0xA0), not by the stored "=?UTF-8?...".
    view.findBox()->setText("note");
    view.sortBy(MailRowSource::kSender, true);
    EXPECT_EQ(shown(), (std::vector<int>{1, 0}));
    // Clearing the filter keeps the sort; selecting one row counts one.
    view.findBox()->clear();
    EXPECT_EQ(shown(), (std::vector<int>{2, 1, 0}));
    view.sortBy(MailRowSource::kSender, false);
    EXPECT_EQ(shown(), (std::vector<int>{0, 1, 2}));
    ctrl->setFocus();
    QTest::keyClick(ctrl, Qt::Key_Home);
    QTest::keyClick(ctrl, Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(view.selectedCount(), 2);
}

TEST_F(MailList, FrameSwitchesBetweenFolderAndGroupRowsWithTheCounts)
{
    chat::ChatGroupTable chat;
    chat.clear();
    chat.groups[0].name = "A";
    chat.groups[0].port = "20001";
    chat.groups[0].rows.push_back({"h", 18, "hello", chat::RowKind::Message, true});
    chat.groupCount = 1;
    file(message("a@example.com", "one", "Tue, 8 Dec 2026 10:00:00 +0900"));
    file(message("b@example.com", "two", "Tue, 8 Dec 2026 11:00:00 +0900"));

    CMainFrame frame(chat, nullptr, &directory);
    ASSERT_TRUE(frame.create());
    frame.show();
    app::CLeftView* tree = frame.treeView();
    QTreeWidgetItem* receivedNode = tree->folderNode(kReceivedFolder);
    ASSERT_NE(receivedNode, nullptr);
    EXPECT_EQ(receivedNode->text(0), QString::fromUtf8("受信したメール (2)"));

    tree->setCurrentItem(receivedNode);
    EXPECT_FALSE(frame.mailListView()->isHidden());
    EXPECT_TRUE(frame.reportView()->isHidden());
    EXPECT_EQ(frame.mailListView()->shownCount(), 2);
    EXPECT_EQ(barCount(frame, "mailCount"), 2);
    EXPECT_EQ(barCount(frame, "selectedMailCount"), 0);

    frame.mailListView()->openRow(0);
    EXPECT_EQ(receivedNode->text(0), QString::fromUtf8("受信したメール (1)"));

    // A download filed one more message.
    file(message("c@example.com", "three", "Tue, 8 Dec 2026 12:00:00 +0900"));
    frame.mailFolderChanged(kReceivedFolder);
    EXPECT_EQ(frame.mailListView()->shownCount(), 3);
    EXPECT_EQ(receivedNode->text(0), QString::fromUtf8("受信したメール (2)"));

    // The group selected after the folder shows its chat rows again.
    tree->setCurrentItem(tree->topLevelItem(0));
    EXPECT_TRUE(frame.mailListView()->isHidden());
    EXPECT_FALSE(frame.reportView()->isHidden());
    EXPECT_EQ(frame.chatPane().currentGroup(), 0);
    EXPECT_EQ(frame.reportView()->reportCtrl()->itemCount(), 1);
    EXPECT_EQ(barCount(frame, "mailCount"), 0);
    frame.destroyWindow();
}

} // namespace orvalink::app
