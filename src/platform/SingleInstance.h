#pragma once

// The guard against a second instance for the same user settings: a lock file ("Orvalink.lock")
// beside the settings store. Another settings directory (XDG_CONFIG_HOME) is another instance
// and may run at the same time.

#include <memory>
#include <string>

class QLockFile;

namespace orvalink::platform {

class InstanceLock {
public:
    // directory: where the lock lives; empty means Profile::configDirectory().
    explicit InstanceLock(std::string directory = {});
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // True when this process now holds the lock (also when it already did). A lock left by a
    // process that no longer runs is taken over.
    bool tryLock();
    void unlock();
    bool isLocked() const;
    const std::string& lockFilePath() const { return m_path; }

private:
    std::string m_path;
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace orvalink::platform
