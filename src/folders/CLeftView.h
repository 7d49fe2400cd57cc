#pragma once

// The left pane of the main window: one top-level node per chat group, labelled
// "Orvalink(" + group name + ")", with a node per present member beneath it. Selecting a group
// node shows that group's rows in the right pane; right-clicking a node offers to write to the
// group or to the person. The chat side keeps the nodes in step through the ChatTree operations.
// Labels are code page 932 texts; each node keeps its label's bytes so that every comparison is
// exact, whatever the widget makes of the text on screen. Node labels cannot be edited.

#include "chat/ChatTree.h"

#include <QPersistentModelIndex>
#include <QPoint>
#include <QTreeWidget>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class QMenu;

namespace orvalink::folders {

using chat::ChatTree;

class CLeftView : public QTreeWidget, public ChatTree {
    Q_OBJECT
public:
    // Item data of every node (column 0): the label's code page 932 bytes (QByteArray) and the
    // index of its image in the tree's image list (int).
    static constexpr int kLabelRole = Qt::UserRole;
    static constexpr int kImageRole = Qt::UserRole + 1;
    // Member nodes also carry their member key ("address#port#name", QByteArray): the label is only
    // the name, which members may share.
    static constexpr int kMemberKeyRole = Qt::UserRole + 2;

    using MenuPresenter = std::function<void(int menuId, QMenu& menu)>;
    using WriteToGroupHandler = std::function<void(int group)>;
    using WriteToPersonHandler = std::function<void(int group, std::string memberKey)>;

    explicit CLeftView(QWidget* parent = nullptr);
    ~CLeftView() override;

    // First fill, when the main window creates its views: the image list and a node for every
    // configured group, then the tree records itself in the group table and reports ready.
    void initialFill();

    void addMember(int group, std::string_view memberKey) override;
    void removeMember(std::string_view memberKey, std::string_view groupName) override;
    void addGroupNode(int group) override;
    void removeGroupNode(std::string_view label) override;

    // Commands of the pop-up menus (32816 write to the group, 32820 write to the person). They
    // act on the context node. True when the id is one of them.
    bool onCommand(int commandId);

    // Shows a pop-up menu built for the given menu id. The default runs it modally where the
    // right button was pressed; a chosen item reaches onCommand().
    void setMenuPresenter(MenuPresenter presenter);
    void setWriteToGroupHandler(WriteToGroupHandler handler);
    void setWriteToPersonHandler(WriteToPersonHandler handler);

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
    // "Orvalink(" + group name + ")".
    static std::string groupLabel(std::string_view groupName);
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
    int groupIndexOfLabel(std::string_view groupNodeLabel) const;
    void showMenu(int menuId, int commandId, const std::string& text);

    std::vector<QIcon> m_images;
    QPersistentModelIndex m_contextNode;
    QPersistentModelIndex m_dropHighlight;
    std::string m_editLabel;
    QPoint m_menuPosition;
    QMetaObject::Connection m_selectionConnection;
    MenuPresenter m_menuPresenter;
    WriteToGroupHandler m_writeToGroup;
    WriteToPersonHandler m_writeToPerson;
};

} // namespace orvalink::folders
