#pragma once

// What the mail settings sheet's fields hold, measured against the settings store and registered
// into it in one place, without widgets. The sheet asks this model whether anything typed differs
// from what is stored (its OK asks before that is lost) and registers through it; the register
// button does the same. A page added to the sheet adds its values to MailSettingsForm and its
// comparison and writing here.

#include "mail/MailAccountStore.h"
#include "mail/engine/MailAccount.h"

#include <string>

namespace orvalink::platform {
class Profile;
} // namespace orvalink::platform

namespace orvalink::mail {

class MailDirectory;

struct MailSettingsForm {
    // The account as the fields show it; serverName is the combo box's text.
    MailAccount account;
    // The save-folder field, as the file system names it (empty: none chosen, the default one).
    std::string saveFolder;
};

// What the "暗号" page shows and lets the user choose for one account.
struct CipherChoices {
    TransportSecurity receive = TransportSecurity::None;
    TransportSecurity send = TransportSecurity::None;
    bool smtpAuth = false;
    std::string smtpUser;     // empty: the POP3 account
    std::string smtpPassword; // empty: the POP3 password
    bool clearAuth = false;   // "平文での認証を許可"

    bool operator==(const CipherChoices&) const = default;
};

enum class MailSide { Receive, Send };

class MailSettingsModel {
public:
    enum class Refusal {
        None,
        BadName, // empty, or beginning with a blank
        BadPort, // a port field neither empty nor digits naming a port
        Full,    // a new account when kMaxAccounts are stored
    };

    // The process-wide settings store; a folder registered becomes `directory`'s path.
    explicit MailSettingsModel(MailDirectory& directory);
    MailSettingsModel(MailDirectory& directory, platform::Profile& profile);

    // The account registering the form would write differs from the stored account of that name
    // (an empty name and empty fields are no account at all, and differ from nothing).
    bool accountDiffers(const MailSettingsForm& form) const;
    // The chosen folder is not the stored "Mail Entry"/"SaveFolder".
    bool folderDiffers(const MailSettingsForm& form) const;
    bool differsFromStore(const MailSettingsForm& form) const { return accountDiffers(form) || folderDiffers(form); }

    // Why the form's account cannot be registered.
    Refusal check(const MailAccount& account) const;
    // The number registering the account would overwrite: the first account of its name; 0 for a
    // new account.
    int numberOf(const MailAccount& account) const;
    // Writes the account under numberOf(), or as a new last account that becomes "Edit"; returns
    // its number. The caller checked it first.
    int registerAccount(const MailAccount& account);
    // Stores the folder as "Mail Entry"/"SaveFolder" and makes it the mail directory.
    bool storeFolder(const std::string& saveFolder);
    // Registers what differs: the account when it does (refused as check() says, nothing written),
    // then the folder when it does.
    Refusal registerChanges(const MailSettingsForm& form);

    // The "暗号" page's choices as the account stores them.
    static CipherChoices cipherChoices(const MailAccount& account);
    // Writes the choices into the account. A stored text is changed only when the choice differs
    // from what it means, so an account shown and left alone stays exactly as stored (no key
    // appears, "0" stays "0"). The trusted certificates are not the page's and stay.
    static void applyCipherChoices(const CipherChoices& choices, MailAccount& account);
    // The port box's text after `security` was chosen for one side: that security's usual port
    // (receiving 110, or 995 for SSL/TLS; sending 25, 587 for STARTTLS, 465 for SSL/TLS) when the
    // box is empty or holds another choice's usual port; a port the user typed otherwise.
    static std::string offeredPort(MailSide side, TransportSecurity security, const std::string& portText);

private:
    MailDirectory& m_directory;
    platform::Profile& m_profile;
    MailAccountStore m_store;
};

} // namespace orvalink::mail
