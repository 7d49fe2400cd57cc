#pragma once

// AccountList: a window's own copy of the mail accounts, read once from the settings store when
// the window is made and not refreshed while it is open. Entry k holds account number k + 1; at
// most MailAccountStore::kMaxAccounts entries. Values are as stored (a missing key is an empty
// text; no port defaults are filled in here).

#include "mail/engine/MailAccount.h"

#include <vector>

namespace orvalink::platform {
class Profile;
} // namespace orvalink::platform

namespace orvalink::mail {

std::vector<MailAccount> readAccounts();
std::vector<MailAccount> readAccounts(platform::Profile& profile);

} // namespace orvalink::mail
