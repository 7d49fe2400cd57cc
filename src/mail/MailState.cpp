#include "mail/MailSide.h"

#include "mail/ComposeThreadTable.h"
#include "mail/SendRecvWindow.h"
#include "mail/SendSettings.h"

namespace orvalink::mail {

MailSide::MailSide()
    : m_sendSettings(std::make_unique<SendSettings>()), m_composeThreads(std::make_unique<ComposeThreadTable>()),
      m_sendRecvWindow(std::make_unique<SendRecvWindow>())
{
}

MailSide::~MailSide() = default;

} // namespace orvalink::mail
