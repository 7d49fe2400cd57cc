#include "mail/AccountList.h"

#include "mail/MailAccountStore.h"
#include "platform/Profile.h"

namespace orvalink::mail {

std::vector<MailAccount> readAccounts()
{
    return readAccounts(platform::Profile::application());
}

std::vector<MailAccount> readAccounts(platform::Profile& profile)
{
    const MailAccountStore store(profile);
    const int count = store.count();
    std::vector<MailAccount> accounts;
    accounts.reserve(static_cast<std::size_t>(count));
    for (int number = 1; number <= count; ++number)
        accounts.push_back(store.read(number));
    return accounts;
}

} // namespace orvalink::mail
