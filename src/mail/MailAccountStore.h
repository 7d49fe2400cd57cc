#pragma once

// The mail accounts in the settings store, section "Server Entry": "Count" accounts numbered from
// 1, eight text keys per account with the number appended ("POP Server1", ...), and "Edit", the
// number of the account the settings page shows first (0 = none). The key spellings ("POP Accunt",
// "EMAIL ADRESS") are what existing stores hold and must not be corrected.
//
// The program keeps accounts in tables of 100, so every reader here sees at most kMaxAccounts
// accounts whatever a hand-edited "Count" says.

#include "mail/engine/MailAccount.h"

#include <string>
#include <string_view>

namespace orvalink::platform {
class Profile;
} // namespace orvalink::platform

namespace orvalink::mail {

class PasswordKeyring;

class MailAccountStore {
public:
    static constexpr int kMaxAccounts = 100;
    static constexpr const char* kSection = "Server Entry";

    // The process-wide settings store.
    MailAccountStore();
    explicit MailAccountStore(platform::Profile& profile);
    // Where passwords go: the process-wide store uses the desktop's keyring when there is one
    // (PasswordKeyring::session()); any other store keeps them in its profile unless given one here.
    // With a keyring the profile's password key is written empty and read() fills it from there.
    void setKeyring(PasswordKeyring* keyring);

    // "Count", limited to 0..kMaxAccounts.
    int count() const;
    void setCount(int count);
    int edit() const;
    void setEdit(int number);
    void setNormal(int value);

    // Account n as stored; missing keys read as empty texts.
    MailAccount read(int number) const;
    void write(int number, const MailAccount& account);
    // Writes the port an empty port key stands for under the account's security ("110" / "25"
    // without one; see defaultPop3Port and defaultSmtpPort) to the port keys of account n that are
    // empty, and returns the account with those values in place.
    MailAccount readWithPortDefaults(int number);

    // The number of the first of accounts 1..count() whose name is exactly name, passing over
    // account skip; 0 when none.
    int find(std::string_view name, int skip = 0) const;

    // Removes account n: the following accounts move down by one number, their last number's keys
    // are removed and "Count" shrinks. "Edit" keeps pointing at the same account; when that was
    // account n it points at the account now holding number n (or the new last one, or 0 when none
    // is left). False (and nothing changed) when n is not an account.
    bool remove(int number);
    // Makes account n account 1; accounts 1..n-1 move up by one number. "Edit" follows its
    // account. False (and nothing changed) when n is not an account.
    bool moveToFirst(int number);

private:
    void removeKeys(int number);

    PasswordKeyring* keyring() const;

    platform::Profile& m_profile;
    mutable PasswordKeyring* m_keyring = nullptr;
    mutable bool m_sessionKeyring = false; // opened on the first password read or write
};

} // namespace orvalink::mail
