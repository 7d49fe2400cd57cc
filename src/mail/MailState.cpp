#include "mail/MailState.h"

#include "mail/ComposeThreadTable.h"
#include "mail/MailDirectory.h"
#include "mail/SendRecvWindow.h"
#include "mail/SendSettings.h"

namespace orvalink::mail {

MailState::MailState()
    : m_directory(std::make_unique<MailDirectory>()), m_sendSettings(std::make_unique<SendSettings>()),
      m_composeThreads(std::make_unique<ComposeThreadTable>()), m_sendRecvWindow(std::make_unique<SendRecvWindow>())
{
}

MailState::~MailState() = default;

} // namespace orvalink::mail
