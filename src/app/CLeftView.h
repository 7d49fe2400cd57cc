#pragma once

// The left pane of the main window: one top-level node per chat group, in the order of the group
// table and labelled chatGroupLabel(group name), with a node per present member beneath it.
// Selecting a group node shows that group's rows in the right pane; right-clicking a node offers
// to write to the group or to the person. The tree observes the group table once its first fill
// is done and keeps the nodes in step; a group's node is the top-level node at the group's index.
// Labels are code page 932 texts; each node keeps its label's bytes so that every comparison is
// exact, whatever the widget makes of the text on screen. Node labels cannot be edited.
//
// After the group nodes comes the node メールボックス with the five fixed mail folders beneath it,
// in the store's order. These nodes are no groups: every group lookup passes them over, and the
// group nodes stay the first top-level nodes, a group's node at the group's index. Selecting a
// folder node hands its name to the folder handler; 受信したメール shows its unread count.

#include "chat/ChatGroupObserver.h"

#include <QPersistentModelIndex>
#include <QPoint>
#include <QTreeWidget>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace orvalink::chat {
class ChatGroupTable;
} // namespace orvalink::chat

class QMenu;

namespace orvalink::app {

class ChatPaneState;

using chat::ChatGroupObserver;
using chat::ChatGroupTable;

class CLeftView : public QTreeWidget, public ChatGroupObserver {
    Q_OBJECT
public:
    // Item data of every node (column 0): the label's code page 932 bytes (QByteArray) and the
    // index of its image in the tree's image list (int).
    static constexpr int kLabelRole = Qt::UserRole;
    static constexpr int kImageRole = Qt::UserRole + 1;
    // Member nodes also carry their member key ("address#port#name", QByteArray): the label is only
    // the name, which members may share.
    static constexpr int kMemberKeyRole = Qt::UserRole + 2;
    // The mail nodes: the mailbox node carries true, a folder node its folder's name (QByteArray).
    static constexpr int kMailboxRole = Qt::UserRole + 3;
    static constexpr int kFolderRole = Qt::UserRole + 4;

    using MenuPresenter = std::function<void(int menuId, QMenu& menu)>;
    using WriteToGroupHandler = std::function<void(int group)>;
    using WriteToPersonHandler = std::function<void(int group, std::string memberKey)>;
    using FolderSelectedHandler = std::function<void(const std::string& folder)>;
    using GroupSelectedHandler = std::function<void(int group)>;

    // The tree lists the groups of the table groups and notes in pane the group selected last and
    // whether its first fill is done; both outlive the tree.
    CLeftView(ChatGroupTable& groups, ChatPaneState& pane, QWidget* parent = nullptr);
    ~CLeftView() override;

    // First fill, when the main window creates its views: the image list and a node for every
    // configured group, then the tree registers with the group table and reports ready.
    void initialFill();

    // Appends a node for the member key ("address#port#name") under the node of group g and
    // expands that node. The node is labelled with the key's name and carries the key: members of
    // the same name stay apart.
    void addMember(int group, std::string_view memberKey);
    // Deletes the node(s) of this member key under the node of group g; namesakes stay.
    void removeMember(int group, std::string_view memberKey);
    // Appends a node for group g and expands it.
    void addGroupNode(int group);
    // Deletes the node of group g with its members; the nodes after it move up.
    void removeGroupNode(int group);

    void memberAdded(int group, std::string_view memberKey) override { addMember(group, memberKey); }
    void memberRemoved(int group, std::string_view memberKey) override { removeMember(group, memberKey); }
    void groupAdded(int group) override { addGroupNode(group); }
    void groupRemoved(int group) override { removeGroupNode(group); }

    // Commands of the pop-up menus (32816 write to the group, 32820 write to the person). They
    // act on the context node. True when the id is one of them.
    bool onCommand(int commandId);

    // Shows a pop-up menu built for the given menu id. The default runs it modally where the
    // right button was pressed; a chosen item reaches onCommand().
    void setMenuPresenter(MenuPresenter presenter);
    void setWriteToGroupHandler(WriteToGroupHandler handler);
    void setWriteToPersonHandler(WriteToPersonHandler handler);
    // Told when the user selects a mail folder's node, and when a group node is selected (before
    // the group's rows are announced).
    void setFolderSelectedHandler(FolderSelectedHandler handler) { m_folderSelected = std::move(handler); }
    void setGroupSelectedHandler(GroupSelectedHandler handler) { m_groupSelected = std::move(handler); }

    // The node of the named fixed folder, or null.
    QTreeWidgetItem* folderNode(std::string_view folder) const;
    QTreeWidgetItem* mailboxNode() const;
    // Shows the folder's unread count in its node's text ("受信したメール (3)"; the name alone for
    // 0). The node's label, which every rule compares, stays the folder's name.
    void setFolderUnreadCount(std::string_view folder, int unread);
    // The folder name of a folder node (empty for other nodes).
    static std::string folderName(const QTreeWidgetItem* node);
    // The number of group nodes: the top-level nodes before the mailbox node.
    int groupNodeCount() const;

    // The node last right-clicked (null when none, or when it has been deleted since).
    QTreeWidgetItem* contextNode() const;
    // The node that shows the drop highlight, or null.
    QTreeWidgetItem* dropHighlightNode() const;
    // Label of the node whose edit last began.
    const std::string& editLabel() const { return m_editLabel; }

    static std::string label(const QTreeWidgetItem* node);
    // The member key of a member node (empty for other nodes).
    static std::string memberKey(const QTreeWidgetItem* node);
    // Makes node the context node, as a right-click on it does (automation).
    void setContextNode(QTreeWidgetItem* node);
    static int imageIndex(const QTreeWidgetItem* node);
    // The labels from the node's top-level node down to the node, joined by "\".
    static std::string path(const QTreeWidgetItem* node);
    // True when a label edit of a node with this path must not start.
    static bool isProtectedPath(std::string_view path);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    void onSelectionChanged();
    void rightButtonPress(QMouseEvent* event);
    void setDropHighlight(QTreeWidgetItem* node);
    QTreeWidgetItem* makeNode(const std::string& text, int image) const;
    QTreeWidgetItem* appendGroupNode(int group);
    void appendMailNodes();
    // The group a top-level node stands for when it is selected or written to: the first group of
    // the node's label; -1 when none has it.
    int groupIndexOfNode(const QTreeWidgetItem* groupNode) const;
    void showMenu(int menuId, int commandId, const std::string& text);

    ChatGroupTable& m_groups;
    ChatPaneState& m_pane;
    std::vector<QIcon> m_images;
    QPersistentModelIndex m_contextNode;
    QPersistentModelIndex m_dropHighlight;
    std::string m_editLabel;
    QPoint m_menuPosition;
    QMetaObject::Connection m_selectionConnection;
    MenuPresenter m_menuPresenter;
    WriteToGroupHandler m_writeToGroup;
    WriteToPersonHandler m_writeToPerson;
    FolderSelectedHandler m_folderSelected;
    GroupSelectedHandler m_groupSelected;
};

} // namespace orvalink::app
