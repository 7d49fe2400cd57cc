#pragma once

// Shared set-up of the chat tests: a private settings folder, an empty group table, message boxes
// recorded instead of shown, and a raw UDP socket to play a peer.

#include "chat/ChatGroupTable.h"
#include "chat/core/CoreTestSupport.h" // configureGroup
#include "platform/MessageBoxRecorder.h"
#include "platform/Profile.h"
#include "support/SettingsSandbox.h"

#include <QCoreApplication>
#include <QTest>
#include <arpa/inet.h>
#include <cstdlib>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace orvalink::chat {

using orvalink::test::readFile;

// A private settings folder and a group table of the test's own, which ends what still runs in it
// (listeners, write windows) before the settings folder goes.
class ProfileSandbox : public orvalink::test::SettingsSandbox {
public:
    ChatGroupTable chatTable;
};

// A plain UDP socket bound to a port of the private network, standing in for a peer.
class RawPeer {
public:
    explicit RawPeer(unsigned short port)
    {
        m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        int on = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        m_bound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~RawPeer() { ::close(m_fd); }
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;

    bool bound() const { return m_bound; }
    bool sendTo(const std::string& bytes, const char* address, unsigned short port) const
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        ::inet_pton(AF_INET, address, &a.sin_addr);
        return ::sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a) ==
               static_cast<ssize_t>(bytes.size());
    }

private:
    int m_fd = -1;
    bool m_bound = false;
};

// Lets the event loop run until nothing has arrived for a little while.
inline void settle(int quietMs = 150)
{
    QTest::qWait(quietMs);
}

} // namespace orvalink::chat
