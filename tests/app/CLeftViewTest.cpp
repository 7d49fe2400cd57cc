#include "app/CLeftView.h"

#include "app/ChatPaneState.h"
#include "chat/ChatGroupObserver.h"
#include "chat/ChatGroupTable.h"
#include "platform/Dispatch.h"
#include "platform/Messages.h"
#include "platform/TextCodec.h"
#include "platform/text/Cp932.h"
#include "res/ResourceIds.h"
#include "store/MailFolders.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <cstdint>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace orvalink::app {

using chat::ChatGroupObserver;
using chat::ChatGroupTable;
using chat::kMaxChatGroups;
using platform::WM_CHAT_MEMBERS_CHANGED;
using platform::WM_CHAT_ROWS_CHANGED;
using store::kFixedFolders;
using store::kMailboxName;
using store::kReceivedFolder;

namespace {

using platform::utf8ToCp932;

// The main window as the group table tells it, in the window messages it turns that into.
class RecordingFrame : public ChatGroupObserver {
public:
    void groupRowsChanged(int g) override { messages.emplace_back(WM_CHAT_ROWS_CHANGED, g, 0); }
    void groupMembersChanged(int g) override { messages.emplace_back(WM_CHAT_MEMBERS_CHANGED, g, 0); }
    std::vector<std::tuple<unsigned, std::int64_t, std::int64_t>> messages;
};

struct ShownMenu {
    int id;
    std::string text; // code page 932
    int command;
};

class LeftViewTest : public ::testing::Test {
protected:
    void SetUp() override { chatTable.clear(); }
    void TearDown() override
    {
        view.reset();
        chatTable.clear();
    }

    // Configures the groups (code page 932 names), builds the view, fills and shows it.
    void start(const std::vector<std::string>& groupNames)
    {
        ChatGroupTable& table = chatTable;
        for (std::size_t g = 0; g < groupNames.size(); ++g)
            table.groups[g].name = groupNames[g];
        table.groupCount = static_cast<int>(groupNames.size());
        table.addObserver(frame);

        view = std::make_unique<CLeftView>(table, pane);
        view->resize(320, 480);
        view->setMenuPresenter([this](int id, QMenu& menu) {
            ASSERT_EQ(menu.actions().size(), 1);
            QAction* action = menu.actions().first();
            menus.push_back({id, platform::fromQString(action->text()), action->data().toInt()});
            if (beforeChoice)
                beforeChoice();
            if (choose)
                action->trigger();
        });
        view->setWriteToGroupHandler([this](int g) { groupWrites.push_back(g); });
        view->setWriteToPersonHandler(
            [this](int g, std::string name) { personWrites.emplace_back(g, std::move(name)); });
        view->initialFill();
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    }

    QTreeWidgetItem* group(int i) const { return view->topLevelItem(i); }
    QPoint centre(QTreeWidgetItem* node) const { return view->visualItemRect(node).center(); }
    QPoint emptySpace() const { return QPoint(10, view->viewport()->height() - 5); }
    void rightPress(QPoint at) { QTest::mousePress(view->viewport(), Qt::RightButton, {}, at); }
    void leftClick(QPoint at) { QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at); }
    void select(QTreeWidgetItem* node) { leftClick(centre(node)); }
    // An edit that began would show its line editor over the node.
    bool editorOpen() const { return !view->findChildren<QLineEdit*>().isEmpty(); }

    std::vector<std::string> childLabels(QTreeWidgetItem* node) const
    {
        std::vector<std::string> labels;
        for (int i = 0; i < node->childCount(); ++i)
            labels.push_back(CLeftView::label(node->child(i)));
        return labels;
    }

    ChatGroupTable chatTable;
    ChatPaneState pane;
    RecordingFrame frame;
    std::unique_ptr<CLeftView> view;
    std::vector<ShownMenu> menus;
    bool choose = false;
    std::function<void()> beforeChoice;
    std::vector<int> groupWrites;
    std::vector<std::pair<int, std::string>> personWrites;
};

TEST_F(LeftViewTest, InitialFillMakesAnExpandedGroupNodePerGroupAndReportsReady)
{
    const std::string japanese = utf8ToCp932("営業部");
    start({"A", japanese});

    ASSERT_EQ(view->groupNodeCount(), 2);
    EXPECT_EQ(CLeftView::label(group(0)), "Orvalink(A)");
    EXPECT_EQ(CLeftView::label(group(1)), "Orvalink(" + japanese + ")");
    EXPECT_EQ(group(1)->text(0), QString::fromUtf8("Orvalink(営業部)"));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(CLeftView::imageIndex(group(i)), res::kTreeImageGroup);
        EXPECT_TRUE(group(i)->isExpanded());
        // The image list shows red as transparent.
        const QImage icon = group(i)->icon(0).pixmap(22, 17).toImage();
        EXPECT_EQ(icon.pixelColor(0, 0).alpha(), 0);
    }
    EXPECT_TRUE(chatTable.isObserver(*view));
    EXPECT_TRUE(pane.treeReady());
    EXPECT_TRUE(frame.messages.empty());

    const CLeftView* gone = view.get();
    view.reset();
    EXPECT_FALSE(chatTable.isObserver(*gone));
    EXPECT_FALSE(pane.treeReady());
}

TEST_F(LeftViewTest, RightPressPicksTheMenuByNodeKindWithoutMovingTheSelection)
{
    enum class Target { SecondGroup, MemberOfSecond, GroupWithoutMembers, EmptySpace };
    struct Case {
        const char* name;
        Target target;
        std::optional<int> menu;
        const char* text; // UTF-8
        int command;
    };
    const Case cases[] = {
        {"group with members", Target::SecondGroup, res::kMenuTreeGroup, "このグループにメッセージを書く(&W)",
         res::kCmdWriteToGroup},
        {"member", Target::MemberOfSecond, res::kMenuTreeMember, "この人にメッセージを書く", res::kCmdWriteToPerson},
        {"group without members", Target::GroupWithoutMembers, std::nullopt, "", 0},
        {"empty space", Target::EmptySpace, std::nullopt, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        menus.clear();
        start({"A", "B"});
        view->addMember(1, "PC-B");
        select(group(0));
        frame.messages.clear();

        QTreeWidgetItem* node = nullptr;
        switch (c.target) {
        case Target::SecondGroup:
            node = group(1);
            break;
        case Target::MemberOfSecond:
            node = group(1)->child(0);
            break;
        case Target::GroupWithoutMembers:
            node = group(0);
            break;
        case Target::EmptySpace:
            break;
        }
        if (!node) {
            // A highlight from an earlier right press goes away.
            rightPress(centre(group(1)));
            ASSERT_EQ(view->dropHighlightNode(), group(1));
            menus.clear();
        }
        rightPress(node ? centre(node) : emptySpace());

        if (c.menu) {
            ASSERT_EQ(menus.size(), 1u);
            EXPECT_EQ(menus[0].id, *c.menu);
            EXPECT_EQ(menus[0].text, utf8ToCp932(c.text));
            EXPECT_EQ(menus[0].command, c.command);
            EXPECT_EQ(view->contextNode(), node);
        } else {
            EXPECT_TRUE(menus.empty());
        }
        EXPECT_EQ(view->dropHighlightNode(), node);
        if (node)
            EXPECT_EQ(node->background(0).color(), view->palette().color(QPalette::Active, QPalette::Highlight));
        else
            EXPECT_EQ(group(1)->background(0).style(), Qt::NoBrush);
        ASSERT_EQ(view->selectedItems().size(), 1);
        EXPECT_EQ(view->selectedItems().first(), group(0));
        EXPECT_EQ(pane.currentGroup(), 0);
        EXPECT_TRUE(frame.messages.empty());
        view.reset();
    }
}

TEST_F(LeftViewTest, LeftPressRemovesTheDropHighlight)
{
    start({"A", "B"});
    view->addMember(0, "PC-A");
    rightPress(centre(group(0)->child(0)));
    ASSERT_EQ(view->dropHighlightNode(), group(0)->child(0));

    select(group(1));
    EXPECT_EQ(view->dropHighlightNode(), nullptr);
    EXPECT_EQ(group(0)->child(0)->background(0).style(), Qt::NoBrush);
    // The context node stays until the next right press on a node.
    EXPECT_EQ(view->contextNode(), group(0)->child(0));
}

TEST_F(LeftViewTest, MenuCommandsWriteToWhatTheContextNodeIdentifies)
{
    start({"A", "B"});
    view->addMember(0, "PC-A");
    view->addMember(1, "PC-B1");
    view->addMember(1, "PC-B2");
    choose = true;

    rightPress(centre(group(1)));
    rightPress(centre(group(1)->child(1)));
    rightPress(centre(group(0)->child(0)));

    EXPECT_EQ(groupWrites, std::vector<int>{1});
    const std::vector<std::pair<int, std::string>> expected = {{1, "PC-B2"}, {0, "PC-A"}};
    EXPECT_EQ(personWrites, expected);
    EXPECT_FALSE(view->onCommand(res::kCmdTrayExit));
}

TEST_F(LeftViewTest, MemberLeavingWhileItsMenuIsOpenWritesToNobody)
{
    start({"A"});
    view->addMember(0, "PC-A");
    choose = true;
    beforeChoice = [this] { view->removeMember(0, "PC-A"); };

    rightPress(centre(group(0)->child(0)));

    ASSERT_EQ(menus.size(), 1u);
    EXPECT_TRUE(personWrites.empty());
    EXPECT_EQ(view->contextNode(), nullptr);
    EXPECT_EQ(view->dropHighlightNode(), nullptr);
    EXPECT_TRUE(view->onCommand(res::kCmdWriteToPerson));
    EXPECT_TRUE(personWrites.empty());
}

TEST_F(LeftViewTest, RemoveMemberTouchesOnlyTheNamedGroup)
{
    // Two groups of one name: each is its own node.
    start({"A", "A"});
    for (int g : {0, 1}) {
        view->addMember(g, "PC-1");
        view->addMember(g, "PC-2");
        view->addMember(g, "PC-1");
    }
    view->removeMember(0, "PC-1");
    EXPECT_EQ(childLabels(group(0)), std::vector<std::string>{"PC-2"});
    EXPECT_EQ(childLabels(group(1)), (std::vector<std::string>{"PC-1", "PC-2", "PC-1"}));

    // Keys compare whole and exactly; a group without a node changes nothing.
    view->removeMember(1, "PC");
    view->removeMember(2, "PC-2");
    view->removeMember(-1, "PC-2");
    EXPECT_EQ(childLabels(group(1)).size(), 3u);
}

TEST_F(LeftViewTest, MembersOfOneNameAreNodesOfTheirOwn)
{
    start({"A"});
    const std::vector<std::string> keys = {"10.0.0.1#12121#same", "10.0.0.2#12121#same", "10.0.0.3#12121#same"};
    for (const auto& k : keys)
        view->addMember(0, k);
    EXPECT_EQ(childLabels(group(0)), std::vector<std::string>(3, "same"));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(CLeftView::memberKey(group(0)->child(i)), keys[static_cast<std::size_t>(i)]);
        EXPECT_EQ(group(0)->child(i)->toolTip(0), QString::fromStdString("10.0.0." + std::to_string(i + 1)));
    }
    EXPECT_TRUE(group(0)->toolTip(0).isEmpty());

    // Writing to the second one names its key.
    std::vector<std::pair<int, std::string>> writes;
    view->setWriteToPersonHandler([&](int g, std::string key) { writes.emplace_back(g, key); });
    view->setContextNode(group(0)->child(1));
    EXPECT_TRUE(view->onCommand(res::kCmdWriteToPerson));
    EXPECT_EQ(writes, (std::vector<std::pair<int, std::string>>{{0, keys[1]}}));

    // The third one leaving takes its node only.
    view->removeMember(0, keys[2]);
    ASSERT_EQ(group(0)->childCount(), 2);
    EXPECT_EQ(CLeftView::memberKey(group(0)->child(0)), keys[0]);
    EXPECT_EQ(CLeftView::memberKey(group(0)->child(1)), keys[1]);
}

TEST_F(LeftViewTest, MemberImageDependsOnABackslashCharacter)
{
    struct Case {
        const char* name;
        std::string cp932;
        int image;
    };
    const Case cases[] = {
        {"plain", "PC-OFFICE", res::kTreeImagePerson},
        {"backslash", "DOMAIN\\user", res::kTreeImagePersonBackslash},
        {"only a backslash", "\\", res::kTreeImagePersonBackslash},
        // 0x5C as the second byte of a double-byte character is not a backslash.
        {"trail byte 0x5C", utf8ToCp932("表示ソフト"), res::kTreeImagePerson},
        {"after a double-byte character", utf8ToCp932("ソ") + "\\x", res::kTreeImagePersonBackslash},
    };
    start({"A"});
    for (const Case& c : cases)
        view->addMember(0, c.cp932);
    ASSERT_EQ(group(0)->childCount(), static_cast<int>(std::size(cases)));
    for (int i = 0; i < group(0)->childCount(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(CLeftView::label(group(0)->child(i)), cases[i].cp932);
        EXPECT_EQ(CLeftView::imageIndex(group(0)->child(i)), cases[i].image);
    }
    EXPECT_TRUE(group(0)->isExpanded());
}

TEST_F(LeftViewTest, SelectingAGroupNodeShowsItsRows)
{
    start({"A", "B", "C"});
    view->addMember(0, "PC-A");
    pane.setCurrentGroup(0);

    select(group(0)->child(0));
    EXPECT_EQ(pane.currentGroup(), 0);
    EXPECT_TRUE(frame.messages.empty());

    select(group(2));
    EXPECT_EQ(pane.currentGroup(), 2);
    ASSERT_EQ(frame.messages.size(), 1u);
    EXPECT_EQ(frame.messages[0], std::make_tuple(WM_CHAT_ROWS_CHANGED, std::int64_t{2}, std::int64_t{0}));

    // Clicking the node that is already selected is not a change.
    QTest::qWait(QApplication::doubleClickInterval() + 50);
    select(group(2));
    EXPECT_EQ(frame.messages.size(), 1u);
}

TEST_F(LeftViewTest, GroupsWithTheSameNameSelectTheFirst)
{
    start({"A", "A"});
    pane.setCurrentGroup(1);
    select(group(1));
    EXPECT_EQ(pane.currentGroup(), 0);
    ASSERT_EQ(frame.messages.size(), 1u);
    EXPECT_EQ(std::get<1>(frame.messages[0]), 0);
}

TEST_F(LeftViewTest, LabelEditsEndAtOnceWithTheOldLabel)
{
    start({"A"});
    view->addMember(0, "PC-A");
    QTreeWidgetItem* member = group(0)->child(0);
    const QString memberText = member->text(0);
    const int pause = QApplication::doubleClickInterval() + 100;

    // A click on the selected node begins an edit.
    select(group(0));
    QTest::qWait(pause);
    select(group(0));
    QTest::qWait(pause);
    EXPECT_EQ(view->editLabel(), "Orvalink(A)");
    EXPECT_FALSE(editorOpen());

    // So does F2 on the current node, and a direct request.
    select(member);
    QTest::keyClick(view.get(), Qt::Key_F2);
    EXPECT_EQ(view->editLabel(), "PC-A");
    EXPECT_FALSE(editorOpen());

    view->editItem(group(0));
    EXPECT_EQ(view->editLabel(), "Orvalink(A)");
    EXPECT_FALSE(editorOpen());

    QTest::qWait(pause);
    EXPECT_FALSE(editorOpen());
    EXPECT_EQ(CLeftView::label(group(0)), "Orvalink(A)");
    EXPECT_EQ(CLeftView::label(member), "PC-A");
    EXPECT_EQ(member->text(0), memberText);
}

TEST(LeftViewPaths, ProtectedPaths)
{
    struct Case {
        std::string path;
        bool refused;
    };
    const Case cases[] = {
        {utf8ToCp932("メールボックス"), true},
        {utf8ToCp932("受信したメール"), true},
        {utf8ToCp932("送信するメール"), true},
        {utf8ToCp932("送信したメール"), true},
        {utf8ToCp932("保存したメール"), true},
        {utf8ToCp932("削除したメール"), true},
        {"Orvalink(A)", true},
        {"Orvalink(A)\\PC-A", true},
        {"Orvalink", true},
        {utf8ToCp932("受信したメール\\sub"), false},
        {"orvalink(A)", false},
        {"Orval", false},
        {"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(platform::cp932ToUtf8(c.path));
        EXPECT_EQ(CLeftView::isProtectedPath(c.path), c.refused);
    }
}

TEST_F(LeftViewTest, PathJoinsLabelsFromTheTopWithBackslashes)
{
    start({"A"});
    view->addMember(0, "PC-A");
    EXPECT_EQ(CLeftView::path(group(0)), "Orvalink(A)");
    EXPECT_EQ(CLeftView::path(group(0)->child(0)), "Orvalink(A)\\PC-A");
}

TEST_F(LeftViewTest, GroupNodesComeAndGo)
{
    start({"A"});
    ChatGroupTable& table = chatTable;
    table.groups[1].name = "B";
    table.groups[2].name = "A";
    table.groupCount = 3;
    view->addGroupNode(1);
    view->addGroupNode(2);
    ASSERT_EQ(view->groupNodeCount(), 3);
    EXPECT_EQ(CLeftView::label(group(1)), "Orvalink(B)");
    EXPECT_EQ(CLeftView::imageIndex(group(1)), res::kTreeImageGroup);
    EXPECT_TRUE(group(1)->isExpanded());
    EXPECT_EQ(group(1)->childCount(), 0);

    view->addMember(1, "PC-B");
    view->addMember(2, "PC-A2");
    EXPECT_EQ(childLabels(group(1)), std::vector<std::string>{"PC-B"});

    // The group's own node goes, with its members; another node of the same label stays.
    view->removeGroupNode(2);
    ASSERT_EQ(view->groupNodeCount(), 2);
    EXPECT_EQ(CLeftView::label(group(0)), "Orvalink(A)");
    EXPECT_EQ(CLeftView::label(group(1)), "Orvalink(B)");
    view->removeGroupNode(0);
    ASSERT_EQ(view->groupNodeCount(), 1);
    EXPECT_EQ(CLeftView::label(group(0)), "Orvalink(B)");
    EXPECT_EQ(childLabels(group(0)), std::vector<std::string>{"PC-B"});
    view->removeGroupNode(1);
    view->removeGroupNode(-1);
    EXPECT_EQ(view->groupNodeCount(), 1);

    // Indexes without a group node or a group slot add nothing.
    view->addGroupNode(-1);
    view->addGroupNode(kMaxChatGroups);
    view->addMember(1, "PC-X");
    view->addMember(-1, "PC-X");
    ASSERT_EQ(view->groupNodeCount(), 1);
    EXPECT_EQ(group(0)->childCount(), 1);
}

TEST_F(LeftViewTest, DeletedContextNodeIsForgotten)
{
    start({"A", "B"});
    view->addMember(1, "PC-B");
    rightPress(centre(group(1)));
    ASSERT_EQ(view->contextNode(), group(1));

    view->removeGroupNode(1);
    EXPECT_EQ(view->contextNode(), nullptr);
    EXPECT_EQ(view->dropHighlightNode(), nullptr);
    EXPECT_TRUE(view->onCommand(res::kCmdWriteToGroup));
    EXPECT_TRUE(groupWrites.empty());
}

} // namespace

TEST_F(LeftViewTest, MailboxNodeFollowsTheGroupsWithTheFixedFoldersAndCountsNoGroup)
{
    start({"A", "B"});
    std::vector<std::string> folderSelections;
    std::vector<int> groupSelections;
    view->setFolderSelectedHandler([&](const std::string& f) { folderSelections.push_back(f); });
    view->setGroupSelectedHandler([&](int g) { groupSelections.push_back(g); });

    ASSERT_EQ(view->topLevelItemCount(), 3);
    QTreeWidgetItem* mailbox = view->mailboxNode();
    ASSERT_EQ(mailbox, view->topLevelItem(2));
    EXPECT_EQ(CLeftView::label(mailbox), std::string(kMailboxName));
    EXPECT_EQ(CLeftView::imageIndex(mailbox), res::kTreeImageMailbox);
    std::vector<std::string> expected(kFixedFolders.begin(), kFixedFolders.end());
    EXPECT_EQ(childLabels(mailbox), expected);
    EXPECT_EQ(CLeftView::imageIndex(mailbox->child(0)), res::kTreeImageReceived);
    EXPECT_EQ(CLeftView::imageIndex(mailbox->child(4)), res::kTreeImageDeleted);

    // A group registered later goes before the mailbox node: group g stays top-level node g.
    chatTable.groups[2].name = "C";
    chatTable.groupCount = 3;
    view->addGroupNode(2);
    EXPECT_EQ(CLeftView::label(group(2)), "Orvalink(C)");
    EXPECT_EQ(view->groupNodeCount(), 3);
    EXPECT_EQ(view->mailboxNode(), view->topLevelItem(3));
    // A member of a group that does not exist never lands under the mailbox node.
    view->addMember(3, "PC-X");
    EXPECT_EQ(mailbox->childCount(), 5);

    // Selecting a folder hands its name over and leaves the chat side alone.
    frame.messages.clear();
    pane.setCurrentGroup(1);
    select(mailbox->child(0));
    EXPECT_EQ(folderSelections, std::vector<std::string>{std::string(kReceivedFolder)});
    EXPECT_EQ(pane.currentGroup(), 1);
    EXPECT_TRUE(frame.messages.empty());
    // The mailbox node itself is no group.
    select(mailbox);
    EXPECT_EQ(pane.currentGroup(), 1);
    EXPECT_TRUE(frame.messages.empty());
    EXPECT_TRUE(groupSelections.empty());
    // A group selected after a folder is announced as before.
    select(group(2));
    EXPECT_EQ(groupSelections, std::vector<int>{2});
    EXPECT_EQ(pane.currentGroup(), 2);
    ASSERT_EQ(frame.messages.size(), 1u);
    EXPECT_EQ(std::get<1>(frame.messages[0]), 2);

    // Neither menu nor edit on the mail nodes.
    rightPress(centre(mailbox));
    rightPress(centre(mailbox->child(2)));
    EXPECT_TRUE(menus.empty());
    for (QTreeWidgetItem* node : {mailbox, mailbox->child(0), mailbox->child(3)}) {
        view->editItem(node);
        EXPECT_FALSE(editorOpen());
    }
}

TEST_F(LeftViewTest, ReceivedFolderShowsItsUnreadCountWhileItsLabelStaysTheName)
{
    start({"A"});
    QTreeWidgetItem* received = view->folderNode(kReceivedFolder);
    ASSERT_NE(received, nullptr);
    view->setFolderUnreadCount(kReceivedFolder, 3);
    EXPECT_EQ(received->text(0), QString::fromUtf8("受信したメール (3)"));
    EXPECT_EQ(CLeftView::label(received), std::string(kReceivedFolder));
    EXPECT_TRUE(CLeftView::isProtectedPath(CLeftView::path(received)));
    view->setFolderUnreadCount(kReceivedFolder, 0);
    EXPECT_EQ(received->text(0), QString::fromUtf8("受信したメール"));
}

} // namespace orvalink::app
