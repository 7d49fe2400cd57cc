#include "chat/CPortPage.h"

#include "chat/CNetMsgDlg.h"
#include "chat/CNetMsgThread.h"
#include "chat/CNewPortDlg.h"
#include "chat/CSendChatThread.h"
#include "chat/ChatGroupTable.h"
#include "chat/ChatTree.h"
#include "chat/ChatWriteOpeners.h"
#include "platform/Dispatch.h"
#include "platform/MessageBox.h"
#include "platform/Profile.h"
#include "platform/TextCodec.h"
#include "platform/text/Cp932.h"
#include "res/ResourceIds.h"

#include <QCheckBox>
#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace orvalink::chat {

using platform::WM_CHAT_ROWS_CHANGED;

namespace {

constexpr const char* kNetMsg = "NetMsg Entry";
// The second button (Cancel) is the default of the delete question.
constexpr unsigned kDefaultButton2 = 0x100;

QString qs(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

std::string key(const char* name, int n)
{
    return name + std::to_string(n);
}

// The log folder is a file-system path: shown as the file system names it, stored byte for byte.
QString shownPath(const std::string& path)
{
    return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

std::string workingDirectory()
{
    std::string buf(4096, '\0');
    while (::getcwd(buf.data(), buf.size()) == nullptr) {
        if (errno != ERANGE)
            return {};
        buf.resize(buf.size() * 2);
    }
    buf.resize(std::char_traits<char>::length(buf.c_str()));
    return buf;
}

template <typename W> W* named(W* w, int id)
{
    w->setObjectName(QString::number(id));
    return w;
}

ChatTree* readyTree()
{
    ChatGroupTable& t = chatGroupTable();
    return t.treeReady.load() ? t.treeView : nullptr;
}

} // namespace

std::string CPortPage::tooManyGroupsText()
{
    return platform::utf8ToCp932("これ以上グループを登録できません");
}

CPortPage::CPortPage(QWidget* parent)
    : QWidget(parent), m_list(named(new QListWidget(this), kPortList)),
      m_groupName(named(new QLineEdit(this), kGroupNameEdit)), m_name(named(new QLineEdit(this), kNameEdit)),
      m_groupNameButton(named(new QPushButton(qs("ｸﾞﾙｰﾌﾟ名変更(&G)"), this), kGroupNameButton)),
      m_nameButton(named(new QPushButton(qs("名前変更(&N)"), this), kNameButton)),
      m_logCheck(named(new QCheckBox(qs("ログの記録をする"), this), kLogCheck)),
      m_folderLabel(named(new QLabel(this), kLogFolderLabel)), m_groupNamePending(new QLabel(pendingText(), this)),
      m_namePending(new QLabel(pendingText(), this))
{
    m_groupNamePending->setObjectName("groupNamePending");
    m_namePending->setObjectName("namePending");
    setObjectName(QString::number(res::kDialogPortSettings));
    auto* registerButton = named(new QPushButton(qs("新規登録(&R)"), this), kRegisterButton);
    auto* deleteButton = named(new QPushButton(qs("削除(&D)"), this), kDeleteButton);
    auto* browseButton = named(new QPushButton(qs("参照(&B)"), this), kBrowseButton);
    m_folderLabel->setFrameStyle(QFrame::Panel | QFrame::Sunken);

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(qs("ポート番号"), this), 0, 0);
    grid->addWidget(m_list, 1, 0, 4, 1);
    grid->addWidget(new QLabel(qs("グループ名"), this), 0, 1);
    grid->addWidget(m_groupName, 1, 1);
    grid->addWidget(m_groupNameButton, 1, 2);
    grid->addWidget(m_groupNamePending, 0, 2);
    grid->addWidget(new QLabel(qs("名前"), this), 2, 1);
    grid->addWidget(m_name, 3, 1);
    grid->addWidget(m_nameButton, 3, 2);
    grid->addWidget(m_namePending, 2, 2);
    grid->addWidget(registerButton, 4, 1);
    grid->addWidget(deleteButton, 4, 2);
    grid->addWidget(m_logCheck, 5, 0, 1, 3);
    grid->addWidget(m_folderLabel, 6, 0, 1, 2);
    grid->addWidget(browseButton, 6, 2);

    const ChatGroupTable& table = chatGroupTable();
    for (int g = 0; g < table.groupCount; ++g)
        m_list->addItem(platform::toQString(table.groups[static_cast<std::size_t>(g)].port));
    if (table.groupCount > 0)
        m_list->setCurrentRow(0);
    showNames(0);

    auto& profile = platform::Profile::application();
    m_logFolder = profile.getPath(kNetMsg, "Log Folder");
    if (m_logFolder.empty()) {
        // The chats are private: a folder made here is the user's alone (an existing one is kept
        // as it is).
        const std::string cwd = workingDirectory();
        m_logFolder = (cwd == "/" ? std::string() : cwd.empty() ? std::string(".") : cwd) + "/ChatLog";
        ::mkdir(m_logFolder.c_str(), 0700);
        profile.writePath(kNetMsg, "Log Folder", m_logFolder);
    }
    m_initialLogFolder = m_logFolder;
    m_folderLabel->setText(shownPath(m_logFolder));
    m_logging = profile.getInt(kNetMsg, "Log YesNo", 0) != 0;
    m_initialLogging = m_logging;
    m_logCheck->setChecked(m_logging);

    connect(m_list, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0)
            selectItem(row);
    });
    connect(m_groupName, &QLineEdit::textEdited, this, [this] { m_groupNameButton->setEnabled(true); });
    connect(m_name, &QLineEdit::textEdited, this, [this] { m_nameButton->setEnabled(true); });
    connect(m_groupNameButton, &QPushButton::clicked, this, &CPortPage::changeGroupName);
    connect(m_nameButton, &QPushButton::clicked, this, &CPortPage::changeDisplayName);
    connect(registerButton, &QPushButton::clicked, this, &CPortPage::registerGroup);
    connect(deleteButton, &QPushButton::clicked, this, &CPortPage::deleteSelected);
    connect(browseButton, &QPushButton::clicked, this, &CPortPage::browseLogFolder);
    connect(m_logCheck, &QCheckBox::toggled, this, [this](bool on) { m_logging = on; });
}

QString CPortPage::pendingText()
{
    return qs("（再起動後に有効）");
}

// The names as stored: a name changed earlier is what the next start uses, so it is what the page
// shows, marked while the running group still goes by the old one.
void CPortPage::showNames(int index)
{
    const ChatGroupTable& table = chatGroupTable();
    if (index >= 0 && index < table.groupCount) {
        const ChatGroup& group = table.groups[static_cast<std::size_t>(index)];
        const auto& profile = platform::Profile::application();
        m_groupName->setText(
            platform::toQString(profile.getString(kNetMsg, key("User PortName", index + 1), group.name)));
        m_name->setText(
            platform::toQString(profile.getString(kNetMsg, key("User Name", index + 1), group.displayName)));
    } else {
        m_groupName->clear();
        m_name->clear();
    }
    m_groupNameButton->setEnabled(false);
    m_nameButton->setEnabled(false);
    markPending(index);
}

void CPortPage::markPending(int index)
{
    const ChatGroupTable& table = chatGroupTable();
    bool groupName = false;
    bool name = false;
    if (index >= 0 && index < table.groupCount) {
        const ChatGroup& group = table.groups[static_cast<std::size_t>(index)];
        const auto& profile = platform::Profile::application();
        groupName = profile.getString(kNetMsg, key("User PortName", index + 1), group.name) != group.name;
        name = profile.getString(kNetMsg, key("User Name", index + 1), group.displayName) != group.displayName;
    }
    m_groupNamePending->setVisible(groupName);
    m_namePending->setVisible(name);
}

void CPortPage::selectItem(int index)
{
    if (m_list->currentRow() != index) {
        m_list->setCurrentRow(index); // comes back here through the list's signal
        return;
    }
    showNames(index);
}

void CPortPage::changeGroupName()
{
    const int row = m_list->currentRow();
    if (row < 0)
        return;
    platform::Profile::application().writeString(kNetMsg, key("User PortName", row + 1),
                                                 platform::fromQString(m_groupName->text()));
    m_groupNameButton->setEnabled(false);
    markPending(row);
    platform::messageBox(platform::utf8ToCp932("グループ名を変更しました。再起動後、有効となります。"));
}

void CPortPage::changeDisplayName()
{
    const int row = m_list->currentRow();
    if (row < 0)
        return;
    const std::string name = platform::fromQString(m_name->text());
    if (name.find('#') != std::string::npos) {
        platform::messageBox(CNewPortDlg::hashInNameText());
        return;
    }
    platform::Profile::application().writeString(kNetMsg, key("User Name", row + 1), name);
    m_nameButton->setEnabled(false);
    markPending(row);
    platform::messageBox(platform::utf8ToCp932("ユーザ名を変更しました。再起動後、有効となります。"));
}

void CPortPage::registerGroup()
{
    ChatGroupTable& table = chatGroupTable();
    if (table.groupCount >= kMaxChatGroups) {
        platform::messageBox(tooManyGroupsText());
        return;
    }
    CNewPortDlg dlg(this);
    if (dlg.run() != QDialog::Accepted)
        return;

    auto& profile = platform::Profile::application();
    const int c = table.groupCount + 1;
    profile.writeInt(kNetMsg, "User PortCnt", c);
    m_list->addItem(platform::toQString(dlg.portText()));
    profile.writeString(kNetMsg, key("User Port", c), dlg.portText());
    profile.writeString(kNetMsg, key("User PortName", c), dlg.groupName());
    profile.writeString(kNetMsg, key("User Name", c), dlg.name());

    // Only the new group is taken into the table: a name changed earlier stays stored for the
    // next start and does not slip in now under the tree node and listener of the old one.
    ChatGroup& group = table.groups[static_cast<std::size_t>(c - 1)];
    group = ChatGroup{};
    // The table holds the port text as typed, like the store; it listens on and is found by the
    // number the text reads as ("12122abc" on 12122).
    group.port = dlg.portText();
    group.name = dlg.groupName();
    group.displayName = dlg.name();
    table.groupCount = c;

    if (ChatTree* tree = readyTree())
        tree->addGroupNode(c - 1);
    startGroupListener(c - 1);
}

void CPortPage::deleteSelected()
{
    ChatGroupTable& table = chatGroupTable();
    const int g = m_list->currentRow();
    if (g < 0 || g >= table.groupCount)
        return;
    if (platform::messageBox(platform::utf8ToCp932("本当に削除しますか？"), platform::utf8ToCp932("メッセージ"),
                             platform::MB_OKCANCEL | kDefaultButton2) != platform::IDOK)
        return;

    stopGroupListener(g, false);

    auto& profile = platform::Profile::application();
    const int count = table.groupCount;
    profile.writeInt(kNetMsg, "User PortCnt", count - 1);
    // The stored texts move down, pending name changes with them; the keys of the former last
    // group stay beyond the count.
    for (int i = g; i < count - 1; ++i) {
        for (const char* name : {"User Port", "User PortName", "User Name"})
            profile.writeString(kNetMsg, key(name, i + 1), profile.getString(kNetMsg, key(name, i + 2)));
    }

    removeGroupFromTable(g);

    delete m_list->takeItem(g);
    const int left = m_list->count();
    if (left == 0) {
        showNames(-1);
    } else {
        const int next = std::min(g, left - 1);
        m_list->setCurrentRow(next);
        showNames(next);
    }
}

void CPortPage::removeGroupFromTable(int g)
{
    ChatGroupTable& table = chatGroupTable();
    const int count = table.groupCount;
    const std::string label = chat::groupLabel(table.groups[static_cast<std::size_t>(g)].name);

    for (int i = g; i < count - 1; ++i) {
        ChatGroup& to = table.groups[static_cast<std::size_t>(i)];
        to = std::move(table.groups[static_cast<std::size_t>(i + 1)]);
        if (to.listener)
            to.listener->setGroupIndex(i);
    }
    table.groups[static_cast<std::size_t>(count - 1)] = ChatGroup{};
    table.groupCount = count - 1;
    CSendChatThread::groupRemoved(g);

    if (table.currentGroup > g || (table.currentGroup == g && g == table.groupCount && g > 0))
        --table.currentGroup;

    if (ChatTree* tree = readyTree()) {
        bool sharedLabel = false;
        for (int i = 0; i < table.groupCount; ++i)
            sharedLabel = sharedLabel || chat::groupLabel(table.groups[static_cast<std::size_t>(i)].name) == label;
        if (!sharedLabel) {
            tree->removeGroupNode(label);
        } else {
            // The tree removes nodes by label, which takes another group's node along: build the
            // group nodes again in table order, with their members.
            tree->removeGroupNode(label);
            for (int i = 0; i < table.groupCount; ++i)
                tree->removeGroupNode(chat::groupLabel(table.groups[static_cast<std::size_t>(i)].name));
            for (int i = 0; i < table.groupCount; ++i) {
                tree->addGroupNode(i);
                for (const std::string& member : table.groups[static_cast<std::size_t>(i)].members)
                    tree->addMember(i, member);
            }
        }
    }
    // The right pane shows the current group's rows; they may belong to another group now.
    if (table.mainFrame)
        platform::sendMessage(table.mainFrame,
                              {WM_CHAT_ROWS_CHANGED, std::int64_t{table.currentGroup}, std::int64_t{0}});
}

void CPortPage::browseLogFolder()
{
    if (auto folder = platform::pickFolderPath(platform::utf8ToCp932("フォルダを選択してください"), m_logFolder)) {
        m_logFolder = *folder;
        m_folderLabel->setText(shownPath(m_logFolder));
    }
}

void CPortPage::storeLogSettings()
{
    auto& profile = platform::Profile::application();
    if (m_logFolder != m_initialLogFolder)
        profile.writePath(kNetMsg, "Log Folder", m_logFolder);
    profile.writeInt(kNetMsg, "Log YesNo", m_logging ? 1 : 0);
}

} // namespace orvalink::chat
