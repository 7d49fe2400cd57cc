#pragma once

// Shared set-up of the mail tests: a private settings folder, message boxes and the folder picker
// answered from queues instead of shown, and helpers to put accounts into the store.

#include "mail/MailAccountStore.h"
#include "mail/MailDirectory.h"
#include "mail/engine/MailAccount.h"
#include "platform/MessageBox.h"
#include "platform/Profile.h"
#include "platform/text/Cp932.h"
#include "support/SettingsSandbox.h"

#include <cstdlib>
#include <deque>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace orvalink::mail {

inline std::string sj(const char* utf8)
{
    return platform::utf8ToCp932(utf8);
}

inline void PrintTo(const MailAccount& a, std::ostream* os)
{
    for (const std::string* f : {&a.serverName, &a.popServer, &a.popPort, &a.popAccount, &a.popPassword, &a.smtpServer,
                                 &a.smtpPort, &a.emailAddress})
        *os << "[" << platform::cp932ToUtf8(*f) << "]";
}

// A private settings folder with no mail directory chosen, and a private data folder for the
// default mail directory.
class ProfileSandbox : public orvalink::test::SettingsSandbox {
public:
    ProfileSandbox() = default;
    const std::string& dataHome() const { return m_data.path(); }

private:
    orvalink::test::TempDir m_data{"orvalink-data"};
    orvalink::test::ScopedEnv m_dataHome{"XDG_DATA_HOME", m_data.path()};
};

// Answers the folder picker from a queue (nullopt = cancelled) and records the titles asked.
class FolderPickerScript {
public:
    explicit FolderPickerScript(std::deque<std::optional<std::string>> answers) : m_answers(std::move(answers))
    {
        platform::setFolderPickerResponder([this](std::string_view title) -> std::optional<std::string> {
            m_titles.emplace_back(title);
            if (m_answers.empty())
                return std::nullopt;
            auto answer = m_answers.front();
            m_answers.pop_front();
            return answer;
        });
    }
    ~FolderPickerScript() { platform::setFolderPickerResponder(nullptr); }
    FolderPickerScript(const FolderPickerScript&) = delete;
    FolderPickerScript& operator=(const FolderPickerScript&) = delete;

    const std::vector<std::string>& titles() const { return m_titles; }

private:
    std::deque<std::optional<std::string>> m_answers;
    std::vector<std::string> m_titles;
};

// An account whose every field names the account and the field, so a misplaced field shows.
inline MailAccount sampleAccount(const std::string& name)
{
    return MailAccount{name,  name + "-pop.example", "995", name + "-user", name + "-secret", name + "-smtp.example",
                       "587", name + "@example.jp"};
}

// Writes the accounts as numbers 1.. and sets "Count" and "Edit".
inline void storeAccounts(const std::vector<std::string>& names, int edit)
{
    MailAccountStore store;
    for (std::size_t i = 0; i < names.size(); ++i)
        store.write(static_cast<int>(i) + 1, sampleAccount(names[i]));
    store.setCount(static_cast<int>(names.size()));
    store.setEdit(edit);
}

inline std::vector<std::string> storedNames()
{
    MailAccountStore store;
    std::vector<std::string> names;
    for (int n = 1; n <= store.count(); ++n)
        names.push_back(store.read(n).serverName);
    return names;
}

} // namespace orvalink::mail
