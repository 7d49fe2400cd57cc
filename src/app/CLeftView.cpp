#include "app/CLeftView.h"

#include "app/ChatPaneState.h"
#include "chat/ChatGroupTable.h"
#include "chat/wire/ChatDatagram.h"
#include "platform/TextCodec.h"
#include "platform/text/Cp932.h"
#include "res/ResourceIds.h"
#include "res/ResourceImages.h"
#include "store/MailFolders.h"

#include <QEvent>
#include <QHelpEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QStyleFactory>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <algorithm>
#include <array>
#include <cstdint>

namespace orvalink::app {

using chat::ChatGroup;
using chat::chatGroupLabel;
using chat::ChatGroupTable;
using chat::kMaxChatGroups;
using res::maskedPixmap;
using res::resourceBitmap;
using store::kFixedFolders;
using store::kMailboxName;

namespace {

// An edit that the path rule lets through still never changes a label: the view keeps the
// label bytes of each node, and nothing in the program takes a new label over.
class LabelKeepingDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const override {}
};

const std::string& productWord()
{
    static const std::string word = "Orvalink";
    return word;
}

// The group table holds at most kMaxChatGroups groups whatever its count says.
int groupCountInTable(const ChatGroupTable& table)
{
    return std::clamp(table.groupCount, 0, kMaxChatGroups);
}

// True when the code page 932 text holds the character "\" (a 0x5C byte that is not the second
// byte of a double-byte character such as "表" or "ソ").
bool containsBackslash(std::string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (platform::isCp932LeadByte(c))
            ++i;
        else if (c == '\\')
            return true;
    }
    return false;
}

} // namespace

CLeftView::CLeftView(ChatGroupTable& groups, ChatPaneState& pane, QWidget* parent)
    : QTreeWidget(parent), m_groups(groups), m_pane(pane)
{
    setColumnCount(1);
    setHeaderHidden(true);
    setRootIsDecorated(true);
    setItemsExpandable(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setIconSize(QSize(22, 17));
    setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    setItemDelegate(new LabelKeepingDelegate(this));

    // The classic style draws the dotted lines that connect a node to its parent.
    if (QStyle* lined = QStyleFactory::create(QStringLiteral("Windows"))) {
        lined->setParent(this);
        setStyle(lined);
    }
    // The selection stays as visible when the tree loses the focus.
    QPalette pal = palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText, pal.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(pal);

    m_menuPresenter = [this](int, QMenu& menu) { menu.exec(m_menuPosition); };
    m_selectionConnection = connect(this, &QTreeWidget::itemSelectionChanged, this, &CLeftView::onSelectionChanged);
}

CLeftView::~CLeftView()
{
    // Tearing the items down changes the selection; that must not reach a half-destroyed view.
    disconnect(m_selectionConnection);
    if (m_groups.isObserver(*this)) {
        m_groups.removeObserver(*this);
        m_pane.setTreeReady(false);
    }
}

void CLeftView::initialFill()
{
    m_images.clear();
    const QColor transparent(255, 0, 0);
    for (int i = 0; i < res::kBitmapTreeCount; ++i) {
        const QPixmap image = maskedPixmap(resourceBitmap(res::kBitmapTreeFirst + i), transparent);
        QIcon icon;
        icon.addPixmap(image, QIcon::Normal);
        icon.addPixmap(image, QIcon::Selected);
        m_images.push_back(icon);
    }

    clear();
    for (int g = 0; g < groupCountInTable(m_groups); ++g)
        appendGroupNode(g);
    appendMailNodes();
    viewport()->update();

    m_groups.addObserver(*this);
    m_pane.setTreeReady(true);
}

void CLeftView::addMember(int group, std::string_view key)
{
    // A group index without a node would otherwise put the member at the top level.
    if (group < 0 || group >= groupNodeCount())
        return;
    QTreeWidgetItem* groupNode = topLevelItem(group);
    // A text that is no member key is its own name.
    const bool isKey = key.find('#') != std::string_view::npos;
    const std::string_view name = isKey ? chat::nameOfMemberKey(key) : key;
    const int image = containsBackslash(name) ? res::kTreeImagePersonBackslash : res::kTreeImagePerson;
    QTreeWidgetItem* node = makeNode(std::string(name), image);
    node->setData(0, kMemberKeyRole, QByteArray(key.data(), static_cast<qsizetype>(key.size())));
    if (isKey)
        node->setToolTip(0, platform::toQString(std::string(chat::addressOfMemberKey(key))));
    groupNode->addChild(node);
    groupNode->setExpanded(true);
}

std::string CLeftView::memberKey(const QTreeWidgetItem* node)
{
    if (!node)
        return {};
    const QByteArray b = node->data(0, kMemberKeyRole).toByteArray();
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

void CLeftView::setContextNode(QTreeWidgetItem* node)
{
    m_contextNode = node ? QPersistentModelIndex(indexFromItem(node)) : QPersistentModelIndex();
}

void CLeftView::removeMember(int group, std::string_view key)
{
    if (group < 0 || group >= groupNodeCount())
        return;
    QTreeWidgetItem* groupNode = topLevelItem(group);
    for (int j = 0; j < groupNode->childCount();) {
        if (memberKey(groupNode->child(j)) == key)
            delete groupNode->takeChild(j);
        else
            ++j;
    }
}

void CLeftView::addGroupNode(int group)
{
    if (group < 0 || group >= kMaxChatGroups)
        return;
    appendGroupNode(group);
}

void CLeftView::removeGroupNode(int group)
{
    if (group >= 0 && group < groupNodeCount())
        delete takeTopLevelItem(group);
}

bool CLeftView::onCommand(int commandId)
{
    if (commandId == res::kCmdWriteToGroup) {
        const QTreeWidgetItem* node = contextNode();
        if (!node)
            return true;
        const int g = groupIndexOfNode(node);
        if (g >= 0 && m_writeToGroup)
            m_writeToGroup(g);
        return true;
    }
    if (commandId == res::kCmdWriteToPerson) {
        const QTreeWidgetItem* node = contextNode();
        if (!node || !node->parent())
            return true;
        const int g = groupIndexOfNode(node->parent());
        if (g >= 0 && m_writeToPerson)
            m_writeToPerson(g, memberKey(node));
        return true;
    }
    return false;
}

void CLeftView::setMenuPresenter(MenuPresenter presenter)
{
    m_menuPresenter = std::move(presenter);
}

void CLeftView::setWriteToGroupHandler(WriteToGroupHandler handler)
{
    m_writeToGroup = std::move(handler);
}

void CLeftView::setWriteToPersonHandler(WriteToPersonHandler handler)
{
    m_writeToPerson = std::move(handler);
}

QTreeWidgetItem* CLeftView::contextNode() const
{
    return m_contextNode.isValid() ? itemFromIndex(m_contextNode) : nullptr;
}

QTreeWidgetItem* CLeftView::dropHighlightNode() const
{
    return m_dropHighlight.isValid() ? itemFromIndex(m_dropHighlight) : nullptr;
}

std::string CLeftView::label(const QTreeWidgetItem* node)
{
    if (!node)
        return {};
    const QByteArray bytes = node->data(0, kLabelRole).toByteArray();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

int CLeftView::imageIndex(const QTreeWidgetItem* node)
{
    return node ? node->data(0, kImageRole).toInt() : -1;
}

std::string CLeftView::path(const QTreeWidgetItem* node)
{
    std::string result;
    for (; node; node = node->parent())
        result = node->parent() ? "\\" + label(node) + result : label(node) + result;
    return result;
}

bool CLeftView::isProtectedPath(std::string_view nodePath)
{
    static const std::array<std::string, 6> folderNames = {
        platform::utf8ToCp932("メールボックス"), platform::utf8ToCp932("受信したメール"),
        platform::utf8ToCp932("送信するメール"), platform::utf8ToCp932("送信したメール"),
        platform::utf8ToCp932("保存したメール"), platform::utf8ToCp932("削除したメール"),
    };
    if (std::find(folderNames.begin(), folderNames.end(), nodePath) != folderNames.end())
        return true;
    // The fixed folders lie under the mailbox node, so their paths begin with its name.
    if (nodePath.starts_with(std::string(kMailboxName) + "\\"))
        return true;
    return nodePath.substr(0, productWord().size()) == productWord();
}

void CLeftView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        rightButtonPress(event);
        return;
    }
    if (event->button() == Qt::LeftButton)
        setDropHighlight(nullptr);
    QTreeWidget::mousePressEvent(event);
}

bool CLeftView::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event)
{
    // Only a trigger that would open an editor begins a label edit; the others carry events for
    // the delegate.
    const bool begins = index.isValid() && trigger != NoEditTriggers &&
                        (trigger == AllEditTriggers || (editTriggers() & trigger)) &&
                        (model()->flags(index) & Qt::ItemIsEditable);
    if (!begins)
        return QTreeWidget::edit(index, trigger, event);

    const QTreeWidgetItem* node = itemFromIndex(index);
    m_editLabel = label(node);
    if (isProtectedPath(path(node)))
        return false;
    return QTreeWidget::edit(index, trigger, event);
}

bool CLeftView::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        // Only a member node has a tip: its address, which tells members of one name apart.
        auto* help = static_cast<QHelpEvent*>(event);
        const QTreeWidgetItem* node = itemAt(help->pos());
        const QString tip = node ? node->toolTip(0) : QString();
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, viewport(), visualItemRect(node));
        return true;
    }
    return QTreeWidget::viewportEvent(event);
}

void CLeftView::onSelectionChanged()
{
    const QList<QTreeWidgetItem*> selected = selectedItems();
    if (selected.isEmpty())
        return;
    if (const std::string folder = folderName(selected.first()); !folder.empty()) {
        if (m_folderSelected)
            m_folderSelected(folder);
        return;
    }
    if (selected.first()->parent() || selected.first() == mailboxNode())
        return;

    ChatGroupTable& table = m_groups;
    int g = groupIndexOfNode(selected.first());
    if (g < 0) {
        // A node that matches no group selects the slot after the last group; with the table
        // full there is no such slot and the selection changes nothing.
        g = groupCountInTable(table);
        if (g >= kMaxChatGroups)
            return;
    }
    m_pane.setCurrentGroup(g);
    if (m_groupSelected)
        m_groupSelected(g);
    table.notifyRowsChanged(g);
}

void CLeftView::rightButtonPress(QMouseEvent* event)
{
    QTreeWidgetItem* node = itemAt(event->position().toPoint());
    if (!node) {
        setDropHighlight(nullptr);
        QTreeWidget::mousePressEvent(event);
        return;
    }

    // The press is the tree's own: the selection does not follow the right button. The mail nodes
    // offer no menu: nobody can be written to there.
    event->accept();
    if (node == mailboxNode() || node->parent() == mailboxNode()) {
        setDropHighlight(node);
        return;
    }
    setDropHighlight(node);
    m_contextNode = indexFromItem(node);
    m_menuPosition = event->globalPosition().toPoint();
    if (node->parent())
        showMenu(res::kMenuTreeMember, res::kCmdWriteToPerson, platform::utf8ToCp932("この人にメッセージを書く"));
    else if (node->childCount() > 0)
        showMenu(res::kMenuTreeGroup, res::kCmdWriteToGroup,
                 platform::utf8ToCp932("このグループにメッセージを書く(&W)"));
}

void CLeftView::setDropHighlight(QTreeWidgetItem* node)
{
    if (QTreeWidgetItem* old = dropHighlightNode()) {
        old->setData(0, Qt::BackgroundRole, QVariant());
        old->setData(0, Qt::ForegroundRole, QVariant());
    }
    m_dropHighlight = QPersistentModelIndex();
    if (!node)
        return;
    node->setData(0, Qt::BackgroundRole, palette().brush(QPalette::Active, QPalette::Highlight));
    node->setData(0, Qt::ForegroundRole, palette().brush(QPalette::Active, QPalette::HighlightedText));
    m_dropHighlight = indexFromItem(node);
}

QTreeWidgetItem* CLeftView::makeNode(const std::string& text, int image) const
{
    auto* node = new QTreeWidgetItem;
    node->setText(0, platform::toQString(text));
    node->setData(0, kLabelRole, QByteArray(text.data(), static_cast<qsizetype>(text.size())));
    node->setData(0, kImageRole, image);
    if (image >= 0 && image < static_cast<int>(m_images.size()))
        node->setIcon(0, m_images[static_cast<std::size_t>(image)]);
    node->setFlags(node->flags() | Qt::ItemIsEditable);
    return node;
}

QTreeWidgetItem* CLeftView::appendGroupNode(int group)
{
    const ChatGroup& g = m_groups.groups[static_cast<std::size_t>(group)];
    QTreeWidgetItem* node = makeNode(chatGroupLabel(g.name), res::kTreeImageGroup);
    insertTopLevelItem(groupNodeCount(), node);
    node->setExpanded(true);
    return node;
}

void CLeftView::appendMailNodes()
{
    static constexpr int kFolderImages[] = {res::kTreeImageReceived, res::kTreeImageToSend, res::kTreeImageSent,
                                            res::kTreeImageSaved, res::kTreeImageDeleted};
    QTreeWidgetItem* mailbox = makeNode(std::string(kMailboxName), res::kTreeImageMailbox);
    mailbox->setData(0, kMailboxRole, true);
    addTopLevelItem(mailbox);
    for (std::size_t i = 0; i < kFixedFolders.size(); ++i) {
        const std::string name(kFixedFolders[i]);
        QTreeWidgetItem* node = makeNode(name, kFolderImages[i]);
        node->setData(0, kFolderRole, QByteArray(name.data(), static_cast<qsizetype>(name.size())));
        mailbox->addChild(node);
    }
    mailbox->setExpanded(true);
}

QTreeWidgetItem* CLeftView::mailboxNode() const
{
    const int last = topLevelItemCount() - 1;
    QTreeWidgetItem* node = last >= 0 ? topLevelItem(last) : nullptr;
    return node && node->data(0, kMailboxRole).toBool() ? node : nullptr;
}

int CLeftView::groupNodeCount() const
{
    return topLevelItemCount() - (mailboxNode() ? 1 : 0);
}

std::string CLeftView::folderName(const QTreeWidgetItem* node)
{
    if (!node)
        return {};
    const QByteArray b = node->data(0, kFolderRole).toByteArray();
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

QTreeWidgetItem* CLeftView::folderNode(std::string_view folder) const
{
    QTreeWidgetItem* mailbox = mailboxNode();
    for (int i = 0; mailbox && i < mailbox->childCount(); ++i) {
        if (folderName(mailbox->child(i)) == folder)
            return mailbox->child(i);
    }
    return nullptr;
}

void CLeftView::setFolderUnreadCount(std::string_view folder, int unread)
{
    QTreeWidgetItem* node = folderNode(folder);
    if (!node)
        return;
    std::string text(folder);
    if (unread > 0)
        text += " (" + std::to_string(unread) + ")";
    node->setText(0, platform::toQString(text));
}

int CLeftView::groupIndexOfNode(const QTreeWidgetItem* groupNode) const
{
    // Groups of one name share a label; their nodes all stand for the first of them.
    const std::string groupNodeLabel = label(groupNode);
    for (int g = 0; g < groupCountInTable(m_groups); ++g) {
        if (chatGroupLabel(m_groups.groups[static_cast<std::size_t>(g)].name) == groupNodeLabel)
            return g;
    }
    return -1;
}

void CLeftView::showMenu(int menuId, int commandId, const std::string& text)
{
    // No parent: the menu must not be deleted under its own modal loop if the tree goes first.
    QMenu menu;
    QAction* action = menu.addAction(platform::toQString(text));
    action->setData(commandId);
    connect(action, &QAction::triggered, this, [this, commandId] { onCommand(commandId); });
    if (m_menuPresenter)
        m_menuPresenter(menuId, menu);
}

} // namespace orvalink::app
