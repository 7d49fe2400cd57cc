#include "platform/Dispatch.h"

#include "platform/MessageEvent_p.h"

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <unordered_map>
#include <vector>

namespace orvalink::platform {

namespace detail {
namespace {

// Never destroyed: a thread still ending while main() returns may unregister its windows after the
// program's static objects have gone.
std::unordered_map<const MessageTarget*, bool>& registry()
{
    static auto* r = new std::unordered_map<const MessageTarget*, bool>;
    return *r;
}

} // namespace

QEvent::Type MessageEvent::sentType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

QEvent::Type MessageEvent::postedType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void MessageEvent::removeQueued(QObject* receiver)
{
    QCoreApplication::removePostedEvents(receiver, sentType());
    QCoreApplication::removePostedEvents(receiver, postedType());
}

MessageEvent::MessageEvent(WindowMessage msg, std::shared_ptr<std::promise<std::intptr_t>> reply)
    : QEvent(reply ? sentType() : postedType()), m_msg(std::move(msg)), m_reply(std::move(reply))
{
}

MessageEvent::~MessageEvent()
{
    answer(0);
}

void MessageEvent::answer(std::intptr_t result)
{
    if (m_answered)
        return;
    m_answered = true;
    if (m_reply)
        m_reply->set_value(result);
}

std::mutex& registryMutex()
{
    static auto* m = new std::mutex; // never destroyed, as the registry
    return *m;
}

void registerTarget(const MessageTarget* t)
{
    std::lock_guard lock(registryMutex());
    registry()[t] = true;
}

void unregisterTarget(const MessageTarget* t)
{
    std::lock_guard lock(registryMutex());
    registry().erase(t);
}

bool closeTarget(const MessageTarget* t)
{
    std::lock_guard lock(registryMutex());
    auto it = registry().find(t);
    if (it == registry().end() || !it->second)
        return false;
    it->second = false;
    return true;
}

bool isOpenLocked(const MessageTarget* t)
{
    auto it = registry().find(t);
    if (it == registry().end() || !it->second)
        return false;
    // A target whose thread has ended will never handle anything again.
    const QThread* thread = t->thread();
    return thread && !thread->isFinished();
}

void retireTargetsOfCurrentThread()
{
    QThread* self = QThread::currentThread();
    std::vector<const MessageTarget*> retired;
    {
        std::lock_guard lock(registryMutex());
        for (auto& [t, open] : registry()) {
            if (open && t->thread() == self) {
                open = false;
                retired.push_back(t);
            }
        }
    }
    for (const MessageTarget* t : retired)
        MessageEvent::removeQueued(const_cast<MessageTarget*>(t));
}

} // namespace detail

std::intptr_t sendMessage(MessageTarget* target, WindowMessage msg)
{
    if (!target)
        return 0;
    bool sameThread = false;
    {
        std::lock_guard lock(detail::registryMutex());
        if (!detail::isOpenLocked(target))
            return 0;
        sameThread = target->thread() == QThread::currentThread();
    }
    if (sameThread)
        return target->windowProc(msg);

    auto reply = std::make_shared<std::promise<std::intptr_t>>();
    std::future<std::intptr_t> result = reply->get_future();
    {
        std::lock_guard lock(detail::registryMutex());
        if (!detail::isOpenLocked(target))
            return 0;
        QCoreApplication::postEvent(target, new detail::MessageEvent(std::move(msg), std::move(reply)));
    }
    // The event's destructor keeps the promise whenever the target goes away. What remains is a
    // target whose thread stopped without retiring it (a plain QThread): its queue is never run,
    // so look for that now and then instead of waiting for ever.
    using namespace std::chrono_literals;
    while (result.wait_for(10ms) != std::future_status::ready) {
        // Meanwhile answer what other threads send to this thread's own windows, as a blocked
        // sender must: otherwise two threads sending to each other would wait for ever.
        QCoreApplication::sendPostedEvents(nullptr, detail::MessageEvent::sentType());
        if (result.wait_for(0ms) == std::future_status::ready)
            break;
        std::lock_guard lock(detail::registryMutex());
        if (!detail::registry().count(target))
            continue; // destroyed: its destructor purges the queue and so answers the promise
        // Closed or not, while its thread runs the message is answered: a window closed after the
        // post has its queue purged by that thread (zero), and a handler that closes its own window
        // still returns its result. Only a thread that ended leaves the message unanswered.
        const QThread* thread = target->thread();
        if (!thread || thread->isFinished())
            return 0;
    }
    return result.get();
}

bool postMessage(MessageTarget* target, WindowMessage msg)
{
    if (!target)
        return false;
    std::lock_guard lock(detail::registryMutex());
    if (!detail::isOpenLocked(target))
        return false;
    QCoreApplication::postEvent(target, new detail::MessageEvent(std::move(msg), nullptr));
    return true;
}

bool isWindow(const MessageTarget* target)
{
    std::lock_guard lock(detail::registryMutex());
    return detail::isOpenLocked(target);
}

} // namespace orvalink::platform
