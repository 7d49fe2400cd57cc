#include "mail/CServerSettingsPage.h"

#include "mail/CCipherSettingsPage.h"
#include "mail/MailDirectory.h"
#include "platform/MessageBox.h"
#include "platform/Profile.h"
#include "platform/TextCodec.h"
#include "platform/text/Cp932.h"
#include "platform/text/PortText.h"

#include <QByteArray>
#include <QComboBox>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace orvalink::mail {

namespace {

// The second button is the default one: a question whose OK changes stored accounts for good is
// answered with Cancel by a plain Enter.
constexpr unsigned kDefaultButton2 = platform::MB_DEFBUTTON2;

int ask(const char* utf8Question, unsigned extraType = 0)
{
    return platform::messageBox(platform::utf8ToCp932(utf8Question), platform::utf8ToCp932("メッセージ"),
                                platform::MB_OKCANCEL | platform::MB_ICONQUESTION | extraType);
}

void tell(const char* utf8Text)
{
    platform::messageBox(platform::utf8ToCp932(utf8Text), platform::utf8ToCp932("メッセージ"),
                         platform::MB_OK | platform::MB_ICONINFORMATION);
}

constexpr const char* kCannotRegister = "サーバー情報としては登録出来ません。";
constexpr const char* kNoAccountChosen = "サーバー情報が選択されていません。";
constexpr const char* kNameTaken = "同じ名前のサーバー情報があります。";
constexpr const char* kBadPort = "ポート番号が間違っています";

} // namespace

CServerSettingsPage::CServerSettingsPage(MailDirectory& directory, QWidget* parent, CCipherSettingsPage* cipherPage)
    : QWidget(parent), m_directory(directory), m_model(directory), m_cipherPage(cipherPage)
{
    auto makeEdit = [this](int id) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QString::number(id));
        return e;
    };
    auto makeButton = [this](int id, const char* utf8Text) {
        auto* b = new QPushButton(platform::uiText(utf8Text), this);
        b->setObjectName(QString::number(id));
        b->setAutoDefault(false);
        return b;
    };

    m_serverName = new QComboBox(this);
    m_serverName->setObjectName(QString::number(kIdServerName));
    m_serverName->setEditable(true);
    m_serverName->setInsertPolicy(QComboBox::NoInsert);
    // The typed text is the name exactly as typed: no completion from the list.
    m_serverName->setCompleter(nullptr);
    m_emailAddress = makeEdit(kIdEmailAddress);
    m_popServer = makeEdit(kIdPopServer);
    m_popPort = makeEdit(kIdPopPort);
    m_smtpServer = makeEdit(kIdSmtpServer);
    m_smtpPort = makeEdit(kIdSmtpPort);
    m_account = makeEdit(kIdAccount);
    m_password = makeEdit(kIdPassword);
    m_password->setEchoMode(QLineEdit::Password);
    m_saveFolder = makeEdit(kIdSaveFolder);
    m_saveFolder->setReadOnly(true);
    m_register = makeButton(kIdRegister, "登録(&R)");
    m_update = makeButton(kIdUpdate, "更新(&P)");
    m_delete = makeButton(kIdDelete, "削除(&D)");
    m_standard = makeButton(kIdStandard, "標準設定");
    m_browse = makeButton(kIdBrowse, "参照(&B)");

    auto* grid = new QGridLayout(this);
    int row = 0;
    auto addRow = [&](const char* utf8Label, QWidget* field, const char* utf8PortLabel = nullptr,
                      QWidget* portField = nullptr) {
        auto* l = new QLabel(platform::uiText(utf8Label), this);
        l->setBuddy(field);
        grid->addWidget(l, row, 0);
        grid->addWidget(field, row, 1);
        if (portField) {
            auto* p = new QLabel(platform::uiText(utf8PortLabel), this);
            p->setBuddy(portField);
            grid->addWidget(p, row, 2);
            grid->addWidget(portField, row, 3);
        }
        ++row;
    };
    addRow("サーバー情報", m_serverName);
    addRow("E-Mailアドレス", m_emailAddress);
    addRow("POP3サーバー", m_popServer, "Port", m_popPort);
    addRow("SMTPサーバー", m_smtpServer, "Port", m_smtpPort);
    addRow("アカウント", m_account);
    addRow("パスワード", m_password);
    addRow("メールの保存フォルダ", m_saveFolder);
    grid->addWidget(m_browse, row - 1, 2, 1, 2);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {m_register, m_update, m_delete, m_standard})
        buttons->addWidget(b);
    buttons->addStretch();
    grid->addLayout(buttons, row, 0, 1, 4);
    grid->setRowStretch(row + 1, 1);

    connect(m_serverName, &QComboBox::activated, this, &CServerSettingsPage::onChooseName);
    connect(m_serverName->lineEdit(), &QLineEdit::textEdited, this, [this] { m_listSelection = -1; });
    connect(m_register, &QPushButton::clicked, this, &CServerSettingsPage::onRegister);
    connect(m_update, &QPushButton::clicked, this, &CServerSettingsPage::onUpdate);
    connect(m_delete, &QPushButton::clicked, this, &CServerSettingsPage::onDelete);
    connect(m_standard, &QPushButton::clicked, this, &CServerSettingsPage::onStandard);
    connect(m_browse, &QPushButton::clicked, this, &CServerSettingsPage::onBrowse);

    onInitPage();
}

CServerSettingsPage::~CServerSettingsPage()
{
    onPageClosing();
}

QLineEdit* CServerSettingsPage::edit(int id) const
{
    return findChild<QLineEdit*>(QString::number(id));
}

QPushButton* CServerSettingsPage::button(int id) const
{
    return findChild<QPushButton*>(QString::number(id));
}

void CServerSettingsPage::onInitPage()
{
    const int count = m_store.count();
    if (count == 0) {
        m_store.setCount(0);
        m_store.setEdit(0);
        m_store.setNormal(1);
    }
    rebuildList();
    if (count != 0)
        showAccount(m_store.edit());
    else
        showAccount(0);

    showSaveFolder(m_directory.load());
    m_directory.loadSaveFolderItems(platform::Profile::application());
}

void CServerSettingsPage::onPageClosing()
{
    if (m_closed)
        return;
    m_closed = true;
    if (m_listSelection < 0 || m_listSelection >= m_serverName->count())
        return;
    const int number = m_store.find(platform::fromQString(m_serverName->itemText(m_listSelection)));
    if (number > 0)
        m_store.setEdit(number);
}

void CServerSettingsPage::onChooseName(int listIndex)
{
    m_listSelection = listIndex;
    const int number = m_store.find(platform::fromQString(m_serverName->itemText(listIndex)));
    if (number > 0) {
        m_current = number - 1;
        loadAccount(number);
    } else {
        // The list and the store disagree (the store was changed elsewhere): a fresh, empty account
        // after the last one.
        const int count = m_store.count();
        m_current = count;
        loadAccount(count + 1);
    }
}

void CServerSettingsPage::onRegister()
{
    const MailAccount account = accountFromFields(platform::fromQString(m_serverName->currentText()));
    const MailSettingsModel::Refusal refusal = m_model.check(account);
    if (refusal == MailSettingsModel::Refusal::BadName || refusal == MailSettingsModel::Refusal::BadPort) {
        tellRefusal(refusal);
        return;
    }
    const int number = m_model.numberOf(account);
    if (refusal != MailSettingsModel::Refusal::None)
        tellRefusal(refusal);
    else if (ask(number > 0 ? "上書きしますか？" : "新規に登録しますか？") == platform::IDOK) {
        m_current = m_model.registerAccount(account) - 1;
        if (number == 0)
            addNameSorted(account.serverName);
    }
    saveMailDirectory();
}

MailSettingsForm CServerSettingsPage::form() const
{
    return {accountFromFields(platform::fromQString(m_serverName->currentText())), m_saveFolderPath};
}

void CServerSettingsPage::tellRefusal(MailSettingsModel::Refusal refusal)
{
    switch (refusal) {
    case MailSettingsModel::Refusal::None:
        break;
    case MailSettingsModel::Refusal::BadPort:
        tell(kBadPort);
        break;
    case MailSettingsModel::Refusal::BadName:
    case MailSettingsModel::Refusal::Full:
        tell(kCannotRegister);
        break;
    }
}

void CServerSettingsPage::discardFolder()
{
    showSaveFolder(m_directory.load());
}

void CServerSettingsPage::offerPort(MailSide side, TransportSecurity security)
{
    QLineEdit* box = side == MailSide::Receive ? m_popPort : m_smtpPort;
    box->setText(
        platform::toQString(MailSettingsModel::offeredPort(side, security, platform::fromQString(box->text()))));
}

void CServerSettingsPage::onUpdate()
{
    if (!hasCurrentAccount()) {
        tell(kNoAccountChosen);
        return;
    }
    const std::string name = platform::fromQString(m_serverName->currentText());
    if (name.empty() || name.front() == ' ') {
        tell(kCannotRegister);
        return;
    }
    // Accounts are found by name: a second account of the same name could never be chosen.
    if (m_store.find(name, m_current + 1) > 0) {
        tell(kNameTaken);
        return;
    }
    if (m_model.check(accountFromFields(name)) == MailSettingsModel::Refusal::BadPort) {
        tell(kBadPort);
        return;
    }
    if (ask("更新しますか？", kDefaultButton2) != platform::IDOK)
        return;
    const int number = m_current + 1;
    m_store.write(number, accountFromFields(name));
    rebuildList();
    showAccount(number);
}

void CServerSettingsPage::onDelete()
{
    if (!hasCurrentAccount()) {
        tell(kNoAccountChosen);
        return;
    }
    if (ask("本当に削除しますか？", kDefaultButton2) != platform::IDOK)
        return;
    const int number = m_current + 1;
    m_store.remove(number);
    rebuildList();
    // The account that took the deleted one's number, else the new last one, else none.
    showAccount(std::min(number, m_store.count()));
}

void CServerSettingsPage::onStandard()
{
    if (!hasCurrentAccount()) {
        tell(kNoAccountChosen);
        return;
    }
    // Account 1 is the one downloads and sending use: renumbering the accounts changes which
    // account receives and sends, so it is asked first, with Cancel as the plain answer.
    if (ask("標準設定にしますか？", kDefaultButton2) != platform::IDOK)
        return;
    m_store.moveToFirst(m_current + 1);
    rebuildList();
    showAccount(1);
}

void CServerSettingsPage::onBrowse()
{
    const auto folder = platform::pickFolderPath(platform::utf8ToCp932("フォルダを選択してください"), m_saveFolderPath);
    if (!folder)
        return;
    showSaveFolder(*folder);
    m_directory.setPath(*folder);
}

void CServerSettingsPage::showSaveFolder(const std::string& path)
{
    m_saveFolderPath = path;
    m_saveFolder->setText(QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size()))));
    // With no folder chosen the field stays empty (so registering keeps it unchosen) and says which
    // folder is used instead.
    const std::string fallback = defaultMailDirectoryPath();
    m_saveFolder->setPlaceholderText(
        platform::uiText("標準: ") +
        QFile::decodeName(QByteArray(fallback.data(), static_cast<qsizetype>(fallback.size()))));
}

void CServerSettingsPage::loadAccount(int number)
{
    MailAccount account;
    if (number >= 1 && number <= m_store.count())
        account = m_store.readWithPortDefaults(number);
    m_loaded = account;
    if (m_cipherPage)
        m_cipherPage->showChoices(MailSettingsModel::cipherChoices(account));
    m_emailAddress->setText(platform::toQString(account.emailAddress));
    m_popServer->setText(platform::toQString(account.popServer));
    m_popPort->setText(platform::toQString(account.popPort));
    m_smtpServer->setText(platform::toQString(account.smtpServer));
    m_smtpPort->setText(platform::toQString(account.smtpPort));
    m_account->setText(platform::toQString(account.popAccount));
    m_password->setText(platform::toQString(account.popPassword));
}

void CServerSettingsPage::showAccount(int number)
{
    const bool exists = number >= 1 && number <= m_store.count();
    m_current = exists ? number - 1 : -1;
    loadAccount(number);
    m_serverName->setEditText(exists ? platform::toQString(m_store.read(number).serverName) : QString());
}

void CServerSettingsPage::rebuildList()
{
    m_serverName->clear();
    m_listSelection = -1;
    const int count = m_store.count();
    for (int number = 1; number <= count; ++number)
        addNameSorted(m_store.readWithPortDefaults(number).serverName);
}

void CServerSettingsPage::addNameSorted(const std::string& name)
{
    // Adding an item may make it the combo box's current one and replace the typed text; the
    // text the user sees is kept.
    const QString typed = m_serverName->currentText();
    const QString item = platform::toQString(name);
    int at = 0;
    while (at < m_serverName->count() && QString::compare(m_serverName->itemText(at), item, Qt::CaseInsensitive) <= 0)
        ++at;
    m_serverName->insertItem(at, item);
    m_serverName->setEditText(typed);
}

MailAccount CServerSettingsPage::accountFromFields(const std::string& name) const
{
    MailAccount account = m_loaded;
    account.serverName = name;
    account.popServer = platform::fromQString(m_popServer->text());
    account.popPort = platform::fromQString(m_popPort->text());
    account.popAccount = platform::fromQString(m_account->text());
    account.popPassword = platform::fromQString(m_password->text());
    account.smtpServer = platform::fromQString(m_smtpServer->text());
    account.smtpPort = platform::fromQString(m_smtpPort->text());
    account.emailAddress = platform::fromQString(m_emailAddress->text());
    if (m_cipherPage)
        MailSettingsModel::applyCipherChoices(m_cipherPage->choices(), account);
    return account;
}

bool CServerSettingsPage::hasCurrentAccount() const
{
    return m_current >= 0 && m_current < m_store.count();
}

void CServerSettingsPage::saveMailDirectory()
{
    m_model.storeFolder(m_saveFolderPath);
}

} // namespace orvalink::mail
