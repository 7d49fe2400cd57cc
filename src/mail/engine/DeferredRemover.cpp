#include "mail/engine/DeferredRemover.h"

#include <unistd.h>

namespace orvalink::mail {

DeferredRemover::DeferredRemover() : m_thread([this] { run(); }) {}

DeferredRemover::~DeferredRemover()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void DeferredRemover::remove(const std::string& path)
{
    bool wake = false;
    {
        const std::lock_guard lock(m_mutex);
        m_queue.push_back(path);
        wake = m_queue.size() >= kBatch;
    }
    if (wake)
        m_wake.notify_one();
}

void DeferredRemover::drain()
{
    std::unique_lock lock(m_mutex);
    ++m_draining;
    m_wake.notify_one();
    m_drained.wait(lock, [this] { return m_queue.empty() && m_current.empty(); });
    --m_draining;
}

bool DeferredRemover::pending(const std::string& prefix)
{
    const std::lock_guard lock(m_mutex);
    if (m_current.rfind(prefix, 0) == 0 && !m_current.empty())
        return true;
    for (const std::string& path : m_queue)
        if (path.rfind(prefix, 0) == 0)
            return true;
    return false;
}

void DeferredRemover::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock,
                    [this] { return m_stop || (m_draining > 0 && !m_queue.empty()) || m_queue.size() >= kBatch; });
        // Whatever is queued is deleted before the thread ends.
        while (!m_queue.empty()) {
            m_current = std::move(m_queue.front());
            m_queue.pop_front();
            const std::string path = m_current;
            lock.unlock();
            ::unlink(path.c_str());
            lock.lock();
            m_current.clear();
        }
        m_drained.notify_all();
        if (m_stop)
            return;
    }
}

} // namespace orvalink::mail
