#include "mail/MailSettingsModel.h"

#include "mail/MailDirectory.h"
#include "platform/Profile.h"
#include "platform/text/PortText.h"

namespace orvalink::mail {

MailSettingsModel::MailSettingsModel(MailDirectory& directory)
    : MailSettingsModel(directory, platform::Profile::application())
{
}

MailSettingsModel::MailSettingsModel(MailDirectory& directory, platform::Profile& profile)
    : m_directory(directory), m_profile(profile), m_store(profile)
{
}

bool MailSettingsModel::accountDiffers(const MailSettingsForm& form) const
{
    const int number = numberOf(form.account);
    if (number == 0)
        return form.account != MailAccount{};
    return form.account != m_store.read(number);
}

bool MailSettingsModel::folderDiffers(const MailSettingsForm& form) const
{
    return form.saveFolder != m_profile.getPath(kMailEntrySection, "SaveFolder");
}

MailSettingsModel::Refusal MailSettingsModel::check(const MailAccount& account) const
{
    if (account.serverName.empty() || account.serverName.front() == ' ')
        return Refusal::BadName;
    // An empty port takes its default; any other must be digits naming a port ("1e4" would be
    // read as port 1).
    for (const std::string* port : {&account.popPort, &account.smtpPort})
        if (!port->empty() && !platform::isTypedPortText(*port))
            return Refusal::BadPort;
    if (numberOf(account) == 0 && m_store.count() >= MailAccountStore::kMaxAccounts)
        return Refusal::Full;
    return Refusal::None;
}

int MailSettingsModel::numberOf(const MailAccount& account) const
{
    return account.serverName.empty() ? 0 : m_store.find(account.serverName);
}

int MailSettingsModel::registerAccount(const MailAccount& account)
{
    int number = numberOf(account);
    if (number == 0) {
        number = m_store.count() + 1;
        m_store.setCount(number);
        m_store.setEdit(number);
    }
    m_store.write(number, account);
    return number;
}

bool MailSettingsModel::storeFolder(const std::string& saveFolder)
{
    return m_directory.store(m_profile, saveFolder);
}

MailSettingsModel::Refusal MailSettingsModel::registerChanges(const MailSettingsForm& form)
{
    if (accountDiffers(form)) {
        if (const Refusal refusal = check(form.account); refusal != Refusal::None)
            return refusal;
        registerAccount(form.account);
    }
    if (folderDiffers(form))
        storeFolder(form.saveFolder);
    return Refusal::None;
}

CipherChoices MailSettingsModel::cipherChoices(const MailAccount& account)
{
    CipherChoices choices;
    choices.receive = transportSecurity(account.popSecurity);
    choices.send = transportSecurity(account.smtpSecurity);
    choices.smtpAuth = account.smtpAuth == "1";
    choices.smtpUser = account.smtpUser;
    choices.smtpPassword = account.smtpPassword;
    choices.clearAuth = account.plainAuth == "1";
    return choices;
}

void MailSettingsModel::applyCipherChoices(const CipherChoices& choices, MailAccount& account)
{
    if (transportSecurity(account.popSecurity) != choices.receive)
        account.popSecurity = storedSecurity(choices.receive);
    if (transportSecurity(account.smtpSecurity) != choices.send)
        account.smtpSecurity = storedSecurity(choices.send);
    if ((account.smtpAuth == "1") != choices.smtpAuth)
        account.smtpAuth = choices.smtpAuth ? "1" : "";
    if ((account.plainAuth == "1") != choices.clearAuth)
        account.plainAuth = choices.clearAuth ? "1" : "";
    account.smtpUser = choices.smtpUser;
    account.smtpPassword = choices.smtpPassword;
}

std::string MailSettingsModel::offeredPort(MailSide side, TransportSecurity security, const std::string& portText)
{
    struct Usual {
        TransportSecurity security;
        const char* port;
    };
    static constexpr Usual kReceive[] = {
        {TransportSecurity::None, "110"}, {TransportSecurity::StartTls, "110"}, {TransportSecurity::Implicit, "995"}};
    static constexpr Usual kSend[] = {
        {TransportSecurity::None, "25"}, {TransportSecurity::StartTls, "587"}, {TransportSecurity::Implicit, "465"}};
    const auto& usual = side == MailSide::Receive ? kReceive : kSend;
    const std::size_t first = portText.find_first_not_of(' ');
    const std::string trimmed =
        first == std::string::npos ? std::string() : portText.substr(first, portText.find_last_not_of(' ') - first + 1);
    bool replaceable = trimmed.empty();
    for (const Usual& u : usual)
        replaceable = replaceable || trimmed == u.port;
    if (!replaceable)
        return portText;
    for (const Usual& u : usual)
        if (u.security == security)
            return u.port;
    return portText;
}

} // namespace orvalink::mail
