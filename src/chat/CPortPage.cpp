#include "chat/CPortPage.h"

#include "chat/CNewPortDlg.h"
#include "chat/ChatGroupTable.h"
#include "chat/ProfileGroupStore.h"
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

namespace {

using Name = ProfileGroupStore::Name;

constexpr const char* kNetMsg = "NetMsg Entry";
// The second button (Cancel) is the default of the delete question.
constexpr unsigned kDefaultButton2 = 0x100;

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

} // namespace

std::string CPortPage::tooManyGroupsText()
{
    return platform::utf8ToCp932("これ以上グループを登録できません");
}

CPortPage::CPortPage(ChatGroupTable& groups, QWidget* parent)
    : QWidget(parent), m_groups(groups), m_list(named(new QListWidget(this), kPortList)),
      m_groupName(named(new QLineEdit(this), kGroupNameEdit)), m_name(named(new QLineEdit(this), kNameEdit)),
      m_groupNameButton(named(new QPushButton(platform::uiText("ｸﾞﾙｰﾌﾟ名変更(&G)"), this), kGroupNameButton)),
      m_nameButton(named(new QPushButton(platform::uiText("名前変更(&N)"), this), kNameButton)),
      m_logCheck(named(new QCheckBox(platform::uiText("ログの記録をする"), this), kLogCheck)),
      m_folderLabel(named(new QLabel(this), kLogFolderLabel)), m_groupNamePending(new QLabel(pendingText(), this)),
      m_namePending(new QLabel(pendingText(), this))
{
    m_groupNamePending->setObjectName("groupNamePending");
    m_namePending->setObjectName("namePending");
    setObjectName(QString::number(res::kDialogPortSettings));
    auto* registerButton = named(new QPushButton(platform::uiText("新規登録(&R)"), this), kRegisterButton);
    auto* deleteButton = named(new QPushButton(platform::uiText("削除(&D)"), this), kDeleteButton);
    auto* browseButton = named(new QPushButton(platform::uiText("参照(&B)"), this), kBrowseButton);
    m_folderLabel->setFrameStyle(QFrame::Panel | QFrame::Sunken);

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(platform::uiText("ポート番号"), this), 0, 0);
    grid->addWidget(m_list, 1, 0, 4, 1);
    grid->addWidget(new QLabel(platform::uiText("グループ名"), this), 0, 1);
    grid->addWidget(m_groupName, 1, 1);
    grid->addWidget(m_groupNameButton, 1, 2);
    grid->addWidget(m_groupNamePending, 0, 2);
    grid->addWidget(new QLabel(platform::uiText("名前"), this), 2, 1);
    grid->addWidget(m_name, 3, 1);
    grid->addWidget(m_nameButton, 3, 2);
    grid->addWidget(m_namePending, 2, 2);
    grid->addWidget(registerButton, 4, 1);
    grid->addWidget(deleteButton, 4, 2);
    grid->addWidget(m_logCheck, 5, 0, 1, 3);
    grid->addWidget(m_folderLabel, 6, 0, 1, 2);
    grid->addWidget(browseButton, 6, 2);

    const ChatGroupTable& table = m_groups;
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
    return platform::uiText("（再起動後に有効）");
}

// The names as stored: a name changed earlier is what the next start uses, so it is what the page
// shows, marked while the running group still goes by the old one.
void CPortPage::showNames(int index)
{
    const ChatGroupTable& table = m_groups;
    if (index >= 0 && index < table.groupCount) {
        const ChatGroup& group = table.groups[static_cast<std::size_t>(index)];
        const ProfileGroupStore stored(platform::Profile::application());
        m_groupName->setText(platform::toQString(stored.storedName(index, Name::Group, group.name)));
        m_name->setText(platform::toQString(stored.storedName(index, Name::Display, group.displayName)));
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
    const ChatGroupTable& table = m_groups;
    bool groupName = false;
    bool name = false;
    if (index >= 0 && index < table.groupCount) {
        const ChatGroup& group = table.groups[static_cast<std::size_t>(index)];
        const ProfileGroupStore stored(platform::Profile::application());
        groupName = stored.storedName(index, Name::Group, group.name) != group.name;
        name = stored.storedName(index, Name::Display, group.displayName) != group.displayName;
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
    ProfileGroupStore(platform::Profile::application())
        .storeName(row, Name::Group, platform::fromQString(m_groupName->text()));
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
    ProfileGroupStore(platform::Profile::application()).storeName(row, Name::Display, name);
    m_nameButton->setEnabled(false);
    markPending(row);
    platform::messageBox(platform::utf8ToCp932("ユーザ名を変更しました。再起動後、有効となります。"));
}

void CPortPage::registerGroup()
{
    if (m_groups.groupCount >= kMaxChatGroups) {
        platform::messageBox(tooManyGroupsText());
        return;
    }
    CNewPortDlg dlg(m_groups, this);
    if (dlg.run() != QDialog::Accepted)
        return;
    if (m_groups.registerGroup(dlg.portText(), dlg.groupName(), dlg.name(), platform::Profile::application()) >= 0)
        m_list->addItem(platform::toQString(dlg.portText()));
}

void CPortPage::deleteSelected()
{
    const int g = m_list->currentRow();
    if (g < 0 || g >= m_groups.groupCount)
        return;
    if (platform::messageBox(platform::utf8ToCp932("本当に削除しますか？"), platform::utf8ToCp932("メッセージ"),
                             platform::MB_OKCANCEL | kDefaultButton2) != platform::IDOK)
        return;

    m_groups.deleteGroup(g, platform::Profile::application());

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
