#include "platform/AsyncSocket.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <set>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace orvalink::platform {

namespace {

thread_local int t_lastError = 0;

int failWith(int wsaError)
{
    t_lastError = wsaError;
    return AsyncSocket::SocketError;
}

int failWithErrno()
{
    return failWith(AsyncSocket::wsaErrorFromErrno(errno));
}

// Windows Sockets flags to POSIX; -1 for a bit the program's platform does not know. MSG_NOSIGNAL
// always: a peer that went away must give an error, not kill the process with SIGPIPE.
int posixFlags(int wsFlags)
{
    if (wsFlags & ~(WS_MSG_OOB | WS_MSG_PEEK | WS_MSG_DONTROUTE))
        return -1;
    int f = MSG_NOSIGNAL;
    if (wsFlags & WS_MSG_OOB)
        f |= MSG_OOB;
    if (wsFlags & WS_MSG_PEEK)
        f |= MSG_PEEK;
    if (wsFlags & WS_MSG_DONTROUTE)
        f |= MSG_DONTROUTE;
    return f;
}

// Dotted IPv4 or a host name (its first IPv4 address). A name that resolves to nothing is an
// invalid argument (WSAEINVAL), as the program's platform reported it; the mail windows tell the
// user "invalid host address" on exactly that error.
bool resolveIPv4(const std::string& host, std::uint16_t port, sockaddr_in& out)
{
    std::memset(&out, 0, sizeof out);
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    if (host.empty()) {
        t_lastError = WSAEINVAL;
        return false;
    }
    if (::inet_pton(AF_INET, host.c_str(), &out.sin_addr) == 1)
        return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* res = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) {
        t_lastError = WSAEINVAL;
        return false;
    }
    out.sin_addr = reinterpret_cast<const sockaddr_in*>(res->ai_addr)->sin_addr;
    ::freeaddrinfo(res);
    return true;
}

// Connection failures that the platform reports through the connect notification rather than as
// a failed call.
bool isConnectOutcome(int err)
{
    return err == ECONNREFUSED || err == ETIMEDOUT || err == ENETUNREACH || err == EHOSTUNREACH || err == ECONNRESET ||
           err == ECONNABORTED;
}

} // namespace

AsyncSocket::AsyncSocket(QObject* parent) : QObject(parent) {}

AsyncSocket::~AsyncSocket()
{
    close();
}

int AsyncSocket::lastError()
{
    return t_lastError;
}

void AsyncSocket::setLastError(int wsaError)
{
    t_lastError = wsaError;
}

int AsyncSocket::wsaErrorFromErrno(int err)
{
    switch (err) {
    case 0:
        return 0;
    case EINTR:
        return WSAEINTR;
    case EBADF:
        return WSAEBADF;
    case EACCES:
    case EPERM:
        return WSAEACCES;
    case EFAULT:
        return WSAEFAULT;
    case EINVAL:
        return WSAEINVAL;
    case EMFILE:
    case ENFILE:
        return WSAEMFILE;
    case EWOULDBLOCK:
#if EAGAIN != EWOULDBLOCK
    case EAGAIN:
#endif
    case EINPROGRESS:
        return WSAEWOULDBLOCK;
    case EALREADY:
        return WSAEALREADY;
    case ENOTSOCK:
        return WSAENOTSOCK;
    case EDESTADDRREQ:
        return WSAEDESTADDRREQ;
    case EMSGSIZE:
        return WSAEMSGSIZE;
    case EPROTOTYPE:
        return WSAEPROTOTYPE;
    case ENOPROTOOPT:
        return WSAENOPROTOOPT;
    case EPROTONOSUPPORT:
        return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT:
        return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP:
        return WSAEOPNOTSUPP;
    case EPFNOSUPPORT:
        return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT:
        return WSAEAFNOSUPPORT;
    case EADDRINUSE:
        return WSAEADDRINUSE;
    case EADDRNOTAVAIL:
        return WSAEADDRNOTAVAIL;
    case ENETDOWN:
        return WSAENETDOWN;
    case ENETUNREACH:
        return WSAENETUNREACH;
    case ENETRESET:
        return WSAENETRESET;
    case ECONNABORTED:
        return WSAECONNABORTED;
    case ECONNRESET:
    case EPIPE:
        return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM:
        return WSAENOBUFS;
    case EISCONN:
        return WSAEISCONN;
    case ENOTCONN:
        return WSAENOTCONN;
    case ESHUTDOWN:
        return WSAESHUTDOWN;
    case ETIMEDOUT:
        return WSAETIMEDOUT;
    case ECONNREFUSED:
        return WSAECONNREFUSED;
    case ENAMETOOLONG:
        return WSAENAMETOOLONG;
    case EHOSTDOWN:
        return WSAEHOSTDOWN;
    case EHOSTUNREACH:
        return WSAEHOSTUNREACH;
    default:
        // No closer Windows Sockets number: the generic "invalid argument" keeps the caller on its
        // failure path.
        return WSAEINVAL;
    }
}

std::vector<int> AsyncSocket::broadcastInterfaces()
{
    std::set<int> indexes;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return {};
    for (const ifaddrs* a = list; a; a = a->ifa_next) {
        const unsigned flags = a->ifa_flags;
        // Up and with a carrier: a copy sent where no cable is would be lost, and the sender would
        // receive that copy as its own (from an address nobody else can reach).
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || !(flags & IFF_UP) || !(flags & IFF_RUNNING) ||
            !(flags & IFF_BROADCAST) || (flags & IFF_LOOPBACK))
            continue;
        // An address label ("eth0:1") names the interface before its colon.
        std::string name = a->ifa_name;
        name = name.substr(0, name.find(':'));
        if (const unsigned index = ::if_nametoindex(name.c_str()); index != 0)
            indexes.insert(static_cast<int>(index));
    }
    ::freeifaddrs(list);
    return {indexes.begin(), indexes.end()};
}

int AsyncSocket::servicePort(const char* name, const char* proto)
{
    if (!name || !*name)
        return 0;
    servent entry{};
    servent* result = nullptr;
    std::vector<char> buf(4096);
    if (::getservbyname_r(name, proto, &entry, buf.data(), buf.size(), &result) != 0 || !result)
        return 0;
    return ntohs(static_cast<std::uint16_t>(result->s_port));
}

bool AsyncSocket::onNotifierThread() const
{
    const QSocketNotifier* n = m_readNotifier ? m_readNotifier : m_writeNotifier;
    return n && n->thread() == QThread::currentThread();
}

bool AsyncSocket::create(Type type, std::uint16_t port, const char* bindAddress, long events)
{
    close();
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bindAddress && *bindAddress && ::inet_pton(AF_INET, bindAddress, &addr.sin_addr) != 1) {
        t_lastError = WSAEINVAL;
        return false;
    }
    const int fd =
        ::socket(AF_INET, (type == Type::Datagram ? SOCK_DGRAM : SOCK_STREAM) | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        failWithErrno();
        return false;
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        const int err = errno;
        ::close(fd);
        failWith(wsaErrorFromErrno(err));
        return false;
    }
    sockaddr_in bound{};
    socklen_t boundLen = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLen);
    m_boundPort = ntohs(bound.sin_port);
    if (type == Type::Datagram) {
        // The arriving interface of each datagram tells the copies of a broadcast sent on several
        // interfaces apart.
        const int on = 1;
        ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    }
    {
        const std::lock_guard lock(m_loopedBackMutex);
        m_loopedBack.clear();
        m_awaitingLoopedBack = false;
    }
    m_type = type;
    m_events = events;
    m_connecting = m_connected = m_closeReported = false;
    m_inReadHandler = m_readWanted = false;
    // Notifiers belong to the creating thread (no parent: this object may live on another one).
    m_readNotifier = new QSocketNotifier(fd, QSocketNotifier::Read);
    m_writeNotifier = new QSocketNotifier(fd, QSocketNotifier::Write);
    m_writeNotifier->setEnabled(false);
    m_readNotifier->setEnabled((events & (FD_READ | FD_ACCEPT | FD_CLOSE)) != 0 && type == Type::Datagram);
    QObject::connect(m_readNotifier, &QSocketNotifier::activated, m_readNotifier, [this] { readActivated(); });
    QObject::connect(m_writeNotifier, &QSocketNotifier::activated, m_writeNotifier, [this] { writeActivated(); });
    m_fd.store(fd);
    t_lastError = 0;
    return true;
}

bool AsyncSocket::setBroadcast(bool on)
{
    const int v = on ? 1 : 0;
    if (::setsockopt(m_fd.load(), SOL_SOCKET, SO_BROADCAST, &v, sizeof v) != 0) {
        failWithErrno();
        return false;
    }
    t_lastError = 0;
    return true;
}

int AsyncSocket::setReceiveBufferSize(int bytes)
{
    const int fd = m_fd.load();
    // SO_RCVBUFFORCE passes the system's limit but needs the privilege; SO_RCVBUF stops at it.
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0 &&
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) != 0) {
        failWithErrno();
        return 0;
    }
    int granted = 0;
    socklen_t len = sizeof granted;
    if (::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &granted, &len) != 0) {
        failWithErrno();
        return 0;
    }
    t_lastError = 0;
    return granted;
}

void AsyncSocket::armRead()
{
    if (!m_readNotifier || !(m_events & (FD_READ | FD_CLOSE)))
        return;
    if (m_inReadHandler) {
        m_readWanted = true; // re-enabled when the handler returns
        return;
    }
    enableNotifier(m_readNotifier);
}

void AsyncSocket::armWrite()
{
    if (!m_writeNotifier)
        return;
    enableNotifier(m_writeNotifier);
}

void AsyncSocket::enableNotifier(QSocketNotifier* notifier)
{
    // A notifier may only be switched on its own thread; from another (a send from any thread)
    // the switch is queued there.
    if (onNotifierThread()) {
        notifier->setEnabled(true);
        return;
    }
    QPointer<QSocketNotifier> n = notifier;
    QMetaObject::invokeMethod(
        notifier,
        [n] {
            if (n)
                n->setEnabled(true);
        },
        Qt::QueuedConnection);
}

bool AsyncSocket::checkTransfer(const void* buf, int len, int flags, int& fd, int& posix) const
{
    // What every send and receive checks first: an open socket, a buffer for the length, and flags
    // that have a POSIX meaning.
    fd = m_fd.load();
    posix = posixFlags(flags);
    const int error = fd < 0 ? WSAENOTSOCK : (len < 0 || (!buf && len > 0)) ? WSAEFAULT : posix < 0 ? WSAEOPNOTSUPP : 0;
    if (error != 0)
        failWith(error);
    return error == 0;
}

int AsyncSocket::sendTo(const void* buf, int len, std::uint16_t port, const std::string& address, int flags)
{
    int fd = -1;
    int f = 0;
    if (!checkTransfer(buf, len, flags, fd, f))
        return SocketError;
    sockaddr_in to{};
    if (!resolveIPv4(address, port, to))
        return SocketError;
    const ssize_t n =
        ::sendto(fd, buf, static_cast<std::size_t>(len), f, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (n < 0) {
        const int err = errno;
        // No route for the limited broadcast: the system has no gateway, and the program's platform
        // would still have sent it on the attached networks.
        if (err == ENETUNREACH && m_type == Type::Datagram && to.sin_addr.s_addr == htonl(INADDR_BROADCAST))
            return broadcastOnEachInterface(buf, len, &to, f);
        if ((err == EAGAIN || err == EWOULDBLOCK) && (m_events & FD_WRITE))
            armWrite();
        return failWith(wsaErrorFromErrno(err));
    }
    t_lastError = 0;
    return static_cast<int>(n);
}

int AsyncSocket::broadcastOnEachInterface(const void* buf, int len, const void* destination, int flags)
{
    const int fd = m_fd.load();
    const std::vector<int> interfaces = broadcastInterfaces();
    // Every copy that may come back is awaited before the first send, so none arrives unexpected;
    // the one to receive (the first interface that takes the datagram) and those that were not
    // sent are taken off again as the sends go.
    std::uint64_t id = 0;
    if (interfaces.size() > 1) {
        const std::lock_guard lock(m_loopedBackMutex);
        id = ++m_loopedBackSerial;
        if (m_loopedBack.size() == kMaxAwaitedBroadcasts)
            m_loopedBack.pop_front();
        m_loopedBack.push_back({id, std::string(static_cast<const char*>(buf), static_cast<std::size_t>(len)),
                                std::vector<int>(interfaces.begin() + 1, interfaces.end())});
        m_awaitingLoopedBack = true;
    }
    auto stopAwaiting = [this, id](int index) {
        const std::lock_guard lock(m_loopedBackMutex);
        for (auto e = m_loopedBack.begin(); e != m_loopedBack.end(); ++e) {
            if (e->id != id)
                continue;
            e->interfaces.erase(std::remove(e->interfaces.begin(), e->interfaces.end(), index), e->interfaces.end());
            if (e->interfaces.empty())
                m_loopedBack.erase(e);
            break;
        }
        m_awaitingLoopedBack = !m_loopedBack.empty();
    };
    int kept = 0;
    int firstError = ENETUNREACH;
    bool failed = false;
    for (const int index : interfaces) {
        if (kept == 0 && index != interfaces.front())
            stopAwaiting(index); // the interfaces before took nothing: this copy is the one to receive
        iovec iov{const_cast<void*>(buf), static_cast<std::size_t>(len)};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
        msghdr mh{};
        mh.msg_name = const_cast<void*>(destination);
        mh.msg_namelen = sizeof(sockaddr_in);
        mh.msg_iov = &iov;
        mh.msg_iovlen = 1;
        mh.msg_control = control;
        mh.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&mh);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_ifindex = index;
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
        if (::sendmsg(fd, &mh, flags) >= 0) {
            if (kept == 0)
                kept = index;
            continue;
        }
        if (!failed) {
            firstError = errno;
            failed = true;
        }
        if (kept != 0)
            stopAwaiting(index); // nothing went out here, so nothing comes back
    }
    if (kept == 0)
        return failWith(wsaErrorFromErrno(firstError));
    t_lastError = 0;
    return len;
}

bool AsyncSocket::isLoopedBackCopy(const char* data, std::size_t len, unsigned port, int interfaceIndex)
{
    // Only this socket sends from its own port on this host (no other socket may bind it).
    if (port != m_boundPort.load())
        return false;
    const std::lock_guard lock(m_loopedBackMutex);
    const std::string_view bytes(data, len);
    for (auto e = m_loopedBack.begin(); e != m_loopedBack.end(); ++e) {
        const auto i = std::find(e->interfaces.begin(), e->interfaces.end(), interfaceIndex);
        if (i == e->interfaces.end() || e->bytes != bytes)
            continue;
        e->interfaces.erase(i);
        if (e->interfaces.empty())
            m_loopedBack.erase(e);
        m_awaitingLoopedBack = !m_loopedBack.empty();
        return true;
    }
    return false;
}

int AsyncSocket::receiveFrom(void* buf, int len, std::string& address, unsigned& port, int flags)
{
    int fd = -1;
    int f = 0;
    if (!checkTransfer(buf, len, flags, fd, f))
        return SocketError;
    sockaddr_in from{};
    msghdr mh{};
    ssize_t n = 0;
    int err = 0;
    for (;;) {
        iovec iov{buf, static_cast<std::size_t>(len)};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
        mh = msghdr{};
        mh.msg_name = &from;
        mh.msg_namelen = sizeof from;
        mh.msg_iov = &iov;
        mh.msg_iovlen = 1;
        mh.msg_control = control;
        mh.msg_controllen = sizeof control;
        n = ::recvmsg(fd, &mh, f & ~MSG_NOSIGNAL);
        err = errno;
        if (n < 0 || (f & MSG_PEEK) || (mh.msg_flags & MSG_TRUNC) || !m_awaitingLoopedBack.load())
            break;
        int arrivedOn = 0;
        for (cmsghdr* c = CMSG_FIRSTHDR(&mh); c; c = CMSG_NXTHDR(&mh, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo info{};
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                arrivedOn = info.ipi_ifindex;
            }
        }
        if (!isLoopedBackCopy(static_cast<const char*>(buf), static_cast<std::size_t>(n), ntohs(from.sin_port),
                              arrivedOn))
            break;
    }
    armRead();
    if (n < 0)
        return failWith(wsaErrorFromErrno(err));
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    address = text;
    port = ntohs(from.sin_port);
    if (mh.msg_flags & MSG_TRUNC)
        return failWith(WSAEMSGSIZE);
    t_lastError = 0;
    return static_cast<int>(n);
}

bool AsyncSocket::connect(const std::string& host, std::uint16_t port)
{
    const int fd = m_fd.load();
    if (fd < 0) {
        t_lastError = WSAENOTSOCK;
        return false;
    }
    if (m_type != Type::Stream) {
        t_lastError = WSAEOPNOTSUPP;
        return false;
    }
    if (m_connecting) {
        t_lastError = WSAEALREADY;
        return false;
    }
    if (m_connected) {
        t_lastError = WSAEISCONN;
        return false;
    }
    sockaddr_in to{};
    if (!resolveIPv4(host, port, to))
        return false;
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    } while (rc != 0 && errno == EINTR);
    const int err = rc == 0 ? 0 : errno;
    if (err == EINPROGRESS) {
        m_connecting = true;
        armWrite();
        t_lastError = WSAEWOULDBLOCK;
        return true;
    }
    if (err != 0 && !isConnectOutcome(err)) {
        t_lastError = wsaErrorFromErrno(err);
        return false;
    }
    // Finished at once (loopback often does, either way): the outcome still arrives as a
    // notification, never from inside this call.
    m_connecting = true;
    t_lastError = WSAEWOULDBLOCK;
    const int wsa = wsaErrorFromErrno(err);
    QPointer<AsyncSocket> self(this);
    QMetaObject::invokeMethod(
        m_writeNotifier,
        [self, wsa] {
            if (self)
                self->deliverConnectResult(wsa);
        },
        Qt::QueuedConnection);
    return true;
}

void AsyncSocket::deliverConnectResult(int wsaError)
{
    if (!m_connecting)
        return;
    m_connecting = false;
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
    if (wsaError == 0) {
        m_connected = true;
        if (m_readNotifier && (m_events & (FD_READ | FD_CLOSE)))
            m_readNotifier->setEnabled(true);
    }
    if (m_events & FD_CONNECT)
        onConnect(wsaError);
}

void AsyncSocket::writeActivated()
{
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
    const int fd = m_fd.load();
    if (fd < 0)
        return;
    if (m_connecting) {
        int soError = 0;
        socklen_t l = sizeof soError;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &l) != 0)
            soError = errno;
        deliverConnectResult(wsaErrorFromErrno(soError));
        return;
    }
    if (m_events & FD_WRITE)
        onSend(0);
}

void AsyncSocket::readActivated()
{
    const int fd = m_fd.load();
    if (!m_readNotifier || fd < 0)
        return;
    // Quiet until the handler (or a later call) reads.
    m_readNotifier->setEnabled(false);
    m_inReadHandler = true;
    m_readWanted = false;
    QPointer<AsyncSocket> self(this);
    if (m_type == Type::Stream) {
        char probe;
        const ssize_t n = ::recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
        const int err = errno;
        if (n == 0 || (n < 0 && err != EAGAIN && err != EWOULDBLOCK && err != EINTR)) {
            // The peer closed (orderly: 0) or the connection broke: reported once, then silence.
            m_inReadHandler = false;
            if (!m_closeReported) {
                m_closeReported = true;
                m_connected = false;
                if (m_events & FD_CLOSE)
                    onClose(n == 0 ? 0 : wsaErrorFromErrno(err));
            }
            return;
        }
        if (n < 0) {
            m_inReadHandler = false;
            m_readNotifier->setEnabled(true);
            return;
        }
    }
    if (m_events & FD_READ)
        onReceive(0);
    if (!self)
        return; // the handler deleted the socket
    m_inReadHandler = false;
    const int deferMs = std::exchange(m_readDeferMs, -1);
    if (!m_readWanted || !m_readNotifier)
        return;
    if (deferMs < 0) {
        m_readNotifier->setEnabled(true);
        return;
    }
    // A timer, not a posted call: the loop then runs the timers that waited before it reads again.
    QPointer<QSocketNotifier> n = m_readNotifier;
    QTimer::singleShot(std::max(1, deferMs), n, [n] {
        if (n)
            n->setEnabled(true);
    });
}

void AsyncSocket::deferNextReadNotification(int delayMs)
{
    m_readDeferMs = delayMs;
}

int AsyncSocket::send(const void* buf, int len, int flags)
{
    int fd = -1;
    int f = 0;
    if (!checkTransfer(buf, len, flags, fd, f))
        return SocketError;
    const ssize_t n = ::send(fd, buf, static_cast<std::size_t>(len), f);
    if (n < 0) {
        const int err = errno;
        if (err == EAGAIN || err == EWOULDBLOCK)
            armWrite();
        return failWith(wsaErrorFromErrno(err));
    }
    t_lastError = 0;
    return static_cast<int>(n);
}

int AsyncSocket::receive(void* buf, int len, int flags)
{
    int fd = -1;
    int f = 0;
    if (!checkTransfer(buf, len, flags, fd, f))
        return SocketError;
    const ssize_t n = ::recv(fd, buf, static_cast<std::size_t>(len), f & ~MSG_NOSIGNAL);
    const int err = errno;
    if (n != 0 && !m_closeReported)
        armRead();
    if (n < 0)
        return failWith(wsaErrorFromErrno(err));
    t_lastError = 0;
    return static_cast<int>(n);
}

void AsyncSocket::close()
{
    const int fd = m_fd.exchange(-1);
    QSocketNotifier* r = m_readNotifier;
    QSocketNotifier* w = m_writeNotifier;
    m_readNotifier = m_writeNotifier = nullptr;
    m_connecting = m_connected = false;
    if (!r && !w) {
        if (fd >= 0)
            ::close(fd);
        return;
    }
    QThread* owner = r->thread();
    if (owner == QThread::currentThread()) {
        // Possibly inside one of their own notifications (a handler that closes or deletes the
        // socket): stop them now, delete them once that has returned.
        QObject::disconnect(r, nullptr, nullptr, nullptr);
        QObject::disconnect(w, nullptr, nullptr, nullptr);
        r->setEnabled(false);
        w->setEnabled(false);
        r->deleteLater();
        w->deleteLater();
        if (fd >= 0)
            ::close(fd);
        return;
    }
    if (!owner->isRunning()) {
        delete r;
        delete w;
        if (fd >= 0)
            ::close(fd);
        return;
    }
    // Notifiers may only be stopped on their own thread, and the descriptor must stay open until
    // they are, or the event loop would watch a number that may already name another file.
    QObject::disconnect(r, nullptr, nullptr, nullptr);
    QObject::disconnect(w, nullptr, nullptr, nullptr);
    QMetaObject::invokeMethod(
        r,
        [r, w, fd] {
            delete r;
            delete w;
            if (fd >= 0)
                ::close(fd);
        },
        Qt::QueuedConnection);
}

void AsyncSocket::onReceive(int) {}
void AsyncSocket::onSend(int) {}
void AsyncSocket::onConnect(int) {}
void AsyncSocket::onClose(int) {}
void AsyncSocket::onAccept(int) {}

} // namespace orvalink::platform
