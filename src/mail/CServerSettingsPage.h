#pragma once

// The "サーバー設定" page of the mail settings sheet (dialog 136): register, choose, update, delete
// and reorder mail accounts, and choose the mail directory. Every button writes the settings store
// at once; what the fields hold when the sheet's OK is pressed is measured against the store there
// (MailSettingsModel). When the page closes, the account last chosen
// from the combo box's list becomes the one shown at the next opening ("Edit").
//
// Controls carry their dialog ids as object names ("1032", "1002", ...), so tests and tools find
// them without knowing the layout.

#include "mail/MailAccountStore.h"
#include "mail/MailSettingsModel.h"
#include "mail/engine/MailAccount.h"

#include <QWidget>
#include <string>

class QComboBox;

class QLineEdit;

class QPushButton;

namespace orvalink::mail {

class CCipherSettingsPage;

class CServerSettingsPage : public QWidget {
    Q_OBJECT
public:
    static constexpr int kIdServerName = 1032;
    static constexpr int kIdEmailAddress = 1002;
    static constexpr int kIdPopServer = 1001;
    static constexpr int kIdPopPort = 1009;
    static constexpr int kIdSmtpServer = 1007;
    static constexpr int kIdSmtpPort = 1010;
    static constexpr int kIdAccount = 1005;
    static constexpr int kIdPassword = 1006;
    static constexpr int kIdSaveFolder = 1011;
    static constexpr int kIdRegister = 3;
    static constexpr int kIdUpdate = 1033;
    static constexpr int kIdDelete = 1037;
    static constexpr int kIdStandard = 1023;
    static constexpr int kIdBrowse = 1012;

    // Opens the page: reads the accounts and the mail directory (see onInitPage()). The sheet's
    // "暗号" page, when given, shows each account this page loads and adds its choices to what
    // this page registers; without it an account keeps its stored security settings.
    // `directory` (which outlives the page) is the mail directory the page shows and changes.
    explicit CServerSettingsPage(MailDirectory& directory, QWidget* parent = nullptr,
                                 CCipherSettingsPage* cipherPage = nullptr);
    ~CServerSettingsPage() override;

    QComboBox* serverNameBox() const { return m_serverName; }
    QLineEdit* edit(int id) const;
    QPushButton* button(int id) const;

    // 0-based index of the account the buttons act on; -1 when none.
    int currentIndex() const { return m_current; }

    // What happens when the page goes away with its sheet (OK or Cancel). Runs once; the
    // destructor runs it when the sheet did not.
    void onPageClosing();

    // What the fields hold now, for the sheet's comparison with the store (MailSettingsModel).
    MailSettingsForm form() const;
    // Tells the user why the fields cannot be registered (no box for Refusal::None).
    void tellRefusal(MailSettingsModel::Refusal refusal);
    // Forgets a folder chosen with the browser and not stored: the field and the mail directory
    // are the stored ones again.
    void discardFolder();
    // The user chose a security on the "暗号" page: the side's port box offers its usual port
    // (MailSettingsModel::offeredPort).
    void offerPort(MailSide side, TransportSecurity security);

private:
    void onInitPage();
    void onChooseName(int listIndex);
    void onRegister();
    void onUpdate();
    void onDelete();
    void onStandard();
    void onBrowse();

    // Fills the fields from account number (empty fields for a number that is not an account);
    // empty ports of a registered account get their defaults, in the store and in the fields.
    void loadAccount(int number);
    // loadAccount() and the combo box's text; the account becomes the current one (none when
    // number is not an account).
    void showAccount(int number);
    // Empties the combo box's list and adds every account's name again (no item selected).
    void rebuildList();
    void addNameSorted(const std::string& name);
    MailAccount accountFromFields(const std::string& name) const;
    bool hasCurrentAccount() const;
    void saveMailDirectory();
    void showSaveFolder(const std::string& path);

    MailDirectory& m_directory;
    MailAccountStore m_store;
    MailSettingsModel m_model;
    CCipherSettingsPage* m_cipherPage = nullptr; // the sheet's, beside this one
    // The account last loaded into the fields: what the pages do not show (the trusted
    // certificates) goes on from it.
    MailAccount m_loaded;
    QComboBox* m_serverName = nullptr;
    QLineEdit* m_emailAddress = nullptr;
    QLineEdit* m_popServer = nullptr;
    QLineEdit* m_popPort = nullptr;
    QLineEdit* m_smtpServer = nullptr;
    QLineEdit* m_smtpPort = nullptr;
    QLineEdit* m_account = nullptr;
    QLineEdit* m_password = nullptr;
    QLineEdit* m_saveFolder = nullptr;
    // The folder the field shows, as the file system names it.
    std::string m_saveFolderPath;
    QPushButton* m_register = nullptr;
    QPushButton* m_update = nullptr;
    QPushButton* m_delete = nullptr;
    QPushButton* m_standard = nullptr;
    QPushButton* m_browse = nullptr;

    int m_current = -1;
    // The list item the user last chose; -1 after typing into the box or rebuilding the list.
    int m_listSelection = -1;
    bool m_closed = false;
};

} // namespace orvalink::mail
