#pragma once

// The way a second start reaches the instance already running with the same settings: a local
// socket in a folder of the owner's only ("Orvalink.instance", 0700) beside the instance lock. The
// running instance listens there; a second start connects, asks it to come forward and waits for
// the answer. Nothing but the one request is understood, and only the owner can connect.

#include <QObject>
#include <memory>
#include <string>

class QLocalServer;

namespace orvalink::platform {

class InstanceChannel : public QObject {
    Q_OBJECT

public:
    // directory: where the instance lock lives; empty means Profile::configDirectory().
    explicit InstanceChannel(std::string directory = {}, QObject* parent = nullptr);
    ~InstanceChannel() override;

    // The running instance (it holds the lock): listens for requests. A socket left by an instance
    // that died is replaced. False when the private folder cannot be made owner-only or the socket
    // cannot listen (the program runs on without it).
    bool listen();
    bool isListening() const;
    const std::string& socketPath() const { return m_socketPath; }

    // A second start: asks the instance listening beside the lock in directory to show its main
    // window. True once it answered; false when nobody listens or no answer came within timeoutMs.
    static bool requestRaise(const std::string& directory = {}, int timeoutMs = 3000);

signals:
    // Another start asked this instance to show and raise its main window.
    void raiseRequested();

private:
    void acceptConnections();

    std::string m_directory;
    std::string m_socketPath;
    std::unique_ptr<QLocalServer> m_server;
};

} // namespace orvalink::platform
