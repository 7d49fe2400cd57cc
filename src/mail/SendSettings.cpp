#include "mail/SendSettings.h"

#include "mail/engine/SmtpConversation.h"

namespace orvalink::mail {

SendSettings::SendSettings() : m_silenceLimitMs(kReplyTimeoutSeconds * 1000), m_serviceName(kServiceName) {}

void SendSettings::setServiceName(std::string name)
{
    std::lock_guard lock(m_mutex);
    m_serviceName = name.empty() ? std::string(kServiceName) : std::move(name);
}

std::string SendSettings::serviceName() const
{
    std::lock_guard lock(m_mutex);
    return m_serviceName;
}

} // namespace orvalink::mail
