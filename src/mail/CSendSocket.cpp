#include "mail/CSendSocket_p.h"
#include "mail/CSendWorker.h"

namespace orvalink::mail {

void CSendSocket::onReceive(int err)
{
    m_owner->socketReadable(err);
}

void CSendSocket::onSend(int err)
{
    m_owner->socketWritable(err);
}

void CSendSocket::onConnect(int err)
{
    m_owner->socketConnected(err);
}

void CSendSocket::onClose(int err)
{
    m_owner->socketClosed(err);
}

} // namespace orvalink::mail
