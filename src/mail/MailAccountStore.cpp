#include "mail/MailAccountStore.h"

#include "mail/PasswordKeyring.h"
#include "platform/Profile.h"

#include <algorithm>
#include <array>

namespace orvalink::mail {

namespace {

struct AccountKey {
    const char* prefix;
    std::string MailAccount::*field;
};

constexpr std::array<AccountKey, 8> kAccountKeys{{
    {"Server Name", &MailAccount::serverName},
    {"POP Server", &MailAccount::popServer},
    {"POP PortNo", &MailAccount::popPort},
    {"POP Accunt", &MailAccount::popAccount},
    {"POP Password", &MailAccount::popPassword},
    {"SMTP Server", &MailAccount::smtpServer},
    {"SMTP PortNo", &MailAccount::smtpPort},
    {"EMAIL ADRESS", &MailAccount::emailAddress},
}};

// The "暗号" page's keys: written only when they hold something, so the store of an account that
// never used the page stays exactly as it was.
constexpr std::array<AccountKey, 8> kSecurityKeys{{
    {"POP Security", &MailAccount::popSecurity},
    {"SMTP Security", &MailAccount::smtpSecurity},
    {"SMTP Auth", &MailAccount::smtpAuth},
    {"SMTP User", &MailAccount::smtpUser},
    {"SMTP Password", &MailAccount::smtpPassword},
    {"SMTP PlainAuth", &MailAccount::plainAuth},
    {"POP CertPin", &MailAccount::popCertPin},
    {"SMTP CertPin", &MailAccount::smtpCertPin},
}};

std::string keyOf(const char* prefix, int number)
{
    return prefix + std::to_string(number);
}

} // namespace

MailAccountStore::MailAccountStore() : m_profile(platform::Profile::application()), m_sessionKeyring(true) {}

MailAccountStore::MailAccountStore(platform::Profile& profile) : m_profile(profile) {}

int MailAccountStore::count() const
{
    return std::clamp(m_profile.getInt(kSection, "Count", 0), 0, kMaxAccounts);
}

void MailAccountStore::setCount(int count)
{
    m_profile.writeInt(kSection, "Count", count);
}

int MailAccountStore::edit() const
{
    return m_profile.getInt(kSection, "Edit", 0);
}

void MailAccountStore::setEdit(int number)
{
    m_profile.writeInt(kSection, "Edit", number);
}

void MailAccountStore::setNormal(int value)
{
    m_profile.writeInt(kSection, "Normal", value);
}

void MailAccountStore::setKeyring(PasswordKeyring* keyring)
{
    m_keyring = keyring;
    m_sessionKeyring = false;
}

PasswordKeyring* MailAccountStore::keyring() const
{
    if (m_sessionKeyring) {
        m_keyring = PasswordKeyring::session();
        m_sessionKeyring = false;
    }
    return m_keyring;
}

MailAccount MailAccountStore::read(int number) const
{
    MailAccount account;
    for (const AccountKey& key : kAccountKeys)
        account.*key.field = m_profile.getString(kSection, keyOf(key.prefix, number));
    for (const AccountKey& key : kSecurityKeys)
        account.*key.field = m_profile.getString(kSection, keyOf(key.prefix, number));
    if (PasswordKeyring* k = keyring()) {
        if (account.popPassword.empty() && !account.popAccount.empty())
            account.popPassword =
                k->lookup(PasswordKeyring::Kind::Pop, account.popServer, account.popAccount).value_or(std::string());
        if (account.smtpPassword.empty() && !account.smtpUser.empty())
            account.smtpPassword =
                k->lookup(PasswordKeyring::Kind::Smtp, account.smtpServer, account.smtpUser).value_or(std::string());
    }
    return account;
}

void MailAccountStore::write(int number, const MailAccount& account)
{
    MailAccount stored = account;
    // In the keyring a password leaves the profile: a clear-text one found there is moved over by
    // the first save. Where the keyring refuses it, the profile keeps it as before. The SMTP AUTH
    // password goes there only with a user of its own (without one, the POP password is used).
    if (PasswordKeyring* k = keyring()) {
        const auto keep = [k](PasswordKeyring::Kind kind, const std::string& server, const std::string& user,
                              std::string& password) {
            if (user.empty())
                return;
            if (password.empty() ? k->remove(kind, server, user) : k->store(kind, server, user, password))
                password.clear();
        };
        keep(PasswordKeyring::Kind::Pop, stored.popServer, stored.popAccount, stored.popPassword);
        keep(PasswordKeyring::Kind::Smtp, stored.smtpServer, stored.smtpUser, stored.smtpPassword);
    }
    for (const AccountKey& key : kAccountKeys)
        m_profile.writeString(kSection, keyOf(key.prefix, number), stored.*key.field);
    for (const AccountKey& key : kSecurityKeys) {
        const std::string name = keyOf(key.prefix, number);
        if (!(stored.*key.field).empty())
            m_profile.writeString(kSection, name, stored.*key.field);
        else if (m_profile.contains(kSection, name))
            m_profile.removeKey(kSection, name);
    }
}

MailAccount MailAccountStore::readWithPortDefaults(int number)
{
    MailAccount account = read(number);
    // The port an empty one stands for under the account's security, so that the settings show
    // what a conversation would use.
    if (account.popPort.empty()) {
        account.popPort = std::to_string(defaultPop3Port(transportSecurity(account.popSecurity)));
        m_profile.writeString(kSection, keyOf("POP PortNo", number), account.popPort);
    }
    if (account.smtpPort.empty()) {
        account.smtpPort = std::to_string(defaultSmtpPort(transportSecurity(account.smtpSecurity)));
        m_profile.writeString(kSection, keyOf("SMTP PortNo", number), account.smtpPort);
    }
    return account;
}

int MailAccountStore::find(std::string_view name, int skip) const
{
    const int n = count();
    for (int number = 1; number <= n; ++number) {
        if (number != skip && m_profile.getString(kSection, keyOf("Server Name", number)) == name)
            return number;
    }
    return 0;
}

void MailAccountStore::removeKeys(int number)
{
    for (const AccountKey& key : kAccountKeys)
        m_profile.removeKey(kSection, keyOf(key.prefix, number));
    for (const AccountKey& key : kSecurityKeys)
        if (m_profile.contains(kSection, keyOf(key.prefix, number)))
            m_profile.removeKey(kSection, keyOf(key.prefix, number));
}

bool MailAccountStore::remove(int number)
{
    const int n = count();
    if (number < 1 || number > n)
        return false;
    for (int k = number; k < n; ++k)
        write(k, read(k + 1));
    removeKeys(n);
    const int left = n - 1;
    setCount(left);
    const int shown = edit();
    if (shown == number)
        setEdit(std::min(number, left));
    else if (shown > number)
        setEdit(shown - 1);
    return true;
}

bool MailAccountStore::moveToFirst(int number)
{
    const int n = count();
    if (number < 1 || number > n)
        return false;
    if (number == 1)
        return true;
    const MailAccount moved = read(number);
    for (int k = number; k > 1; --k)
        write(k, read(k - 1));
    write(1, moved);
    const int shown = edit();
    if (shown == number)
        setEdit(1);
    else if (shown >= 1 && shown < number)
        setEdit(shown + 1);
    return true;
}

} // namespace orvalink::mail
