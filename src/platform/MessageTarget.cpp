#include "platform/MessageTarget.h"

#include "platform/MessageEvent_p.h"
#include "platform/UiThread.h"

#include <QCoreApplication>
#include <QThread>

namespace orvalink::platform {

std::int64_t paramInt(const MessageParam& p)
{
    if (const auto* v = std::get_if<std::int64_t>(&p))
        return *v;
    return 0;
}

std::string takeParamText(MessageParam& p)
{
    if (auto* v = std::get_if<std::string>(&p))
        return std::move(*v);
    return {};
}

MessageTarget::MessageTarget(QObject* parent) : QObject(parent)
{
    detail::registerTarget(this);
}

MessageTarget::~MessageTarget()
{
    detail::unregisterTarget(this);
    // Queued messages would otherwise be dropped only by ~QObject; do it here so that their
    // senders are released before anything of this object is gone.
    detail::MessageEvent::removeQueued(this);
}

bool MessageTarget::isAlive() const
{
    std::lock_guard lock(detail::registryMutex());
    return detail::isOpenLocked(this);
}

void MessageTarget::destroyWindow()
{
    if (m_destroying)
        return;
    m_destroying = true;
    if (isAlive()) {
        WindowMessage msg{WM_DESTROY, {}, {}};
        windowProc(msg);
    }
    detail::closeTarget(this);
    detail::MessageEvent::removeQueued(this);
    emit destroyedWindow();
    deleteLater();
}

bool MessageTarget::event(QEvent* e)
{
    // A message is made under the registry lock by the thread that sends it and reaches this
    // thread through Qt's queue. Taking the lock here as well orders the making before the reading
    // for every thread (ThreadSanitizer cannot see the queue's own lock inside Qt).
    {
        std::lock_guard lock(detail::registryMutex());
    }
    if (!detail::MessageEvent::isMessageEvent(e))
        return QObject::event(e);
    auto* me = static_cast<detail::MessageEvent*>(e);
    const unsigned id = me->message().id;
    if (isAlive())
        me->answer(windowProc(me->message()));
    else
        me->answer(0);
    // A queued WM_QUIT ends the message loop of the user-interface thread the target lives on,
    // whatever the window itself did with it.
    if (id == WM_QUIT) {
        if (auto* ui = qobject_cast<UiThread*>(QThread::currentThread()))
            ui->exit(0);
    }
    return true;
}

} // namespace orvalink::platform
