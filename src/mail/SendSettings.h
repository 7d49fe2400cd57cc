#pragma once

// What every compose window's send worker reads when a conversation starts: how long the server
// may stay silent (60 s; tests shorten it) and the service looked up for the port ("smtp"; tests
// name one the services database lacks). The send threads read it while the GUI thread may set it.

#include <atomic>
#include <mutex>
#include <string>

namespace orvalink::mail {

class SendSettings {
public:
    SendSettings();

    void setSilenceLimitMs(int ms) { m_silenceLimitMs.store(ms); }
    int silenceLimitMs() const { return m_silenceLimitMs.load(); }
    // An empty name restores "smtp".
    void setServiceName(std::string name);
    std::string serviceName() const;

private:
    std::atomic<int> m_silenceLimitMs;
    mutable std::mutex m_mutex;
    std::string m_serviceName;
};

} // namespace orvalink::mail
