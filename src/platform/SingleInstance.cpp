#include "platform/SingleInstance.h"

#include "platform/Profile.h"

#include <QLockFile>
#include <QString>

namespace orvalink::platform {

InstanceLock::InstanceLock(std::string directory)
{
    if (directory.empty())
        directory = Profile::configDirectory();
    m_path = directory + "/Orvalink.lock";
    m_lock = std::make_unique<QLockFile>(QString::fromStdString(m_path));
    // Only a dead owner makes the lock stale, never its age: an instance may run for months.
    m_lock->setStaleLockTime(0);
}

InstanceLock::~InstanceLock() = default;

bool InstanceLock::tryLock()
{
    if (m_lock->isLocked())
        return true;
    // tryLock removes a lock whose process no longer runs (on this host) and takes it.
    return m_lock->tryLock(0);
}

void InstanceLock::unlock()
{
    m_lock->unlock();
}

bool InstanceLock::isLocked() const
{
    return m_lock->isLocked();
}

} // namespace orvalink::platform
