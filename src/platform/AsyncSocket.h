#pragma once

// An asynchronous socket in the Windows Sockets manner over a non-blocking POSIX socket (IPv4).
// Notifications (onReceive, onSend, onConnect, onClose, onAccept) are delivered through
// QSocketNotifier on the thread that called create(), whatever thread the object itself lives on.
// Errors are Windows Sockets numbers (10035 for "would block" and so on), read with lastError().
//
// As on the platform the program was written for, a read notification is not repeated until the
// data has been read: after onReceive the socket waits for a receive/receiveFrom call before it
// notifies again, so a handler that reads nothing does not spin.

#include <QObject>
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

class QSocketNotifier;

namespace orvalink::platform {

// Windows Sockets send/receive flags (mapped to their POSIX equivalents).
inline constexpr int WS_MSG_OOB = 0x1;
inline constexpr int WS_MSG_PEEK = 0x2;
inline constexpr int WS_MSG_DONTROUTE = 0x4;

// Event mask bits for create().
inline constexpr long FD_READ = 0x01;
inline constexpr long FD_WRITE = 0x02;
inline constexpr long FD_OOB = 0x04;
inline constexpr long FD_ACCEPT = 0x08;
inline constexpr long FD_CONNECT = 0x10;
inline constexpr long FD_CLOSE = 0x20;

// Windows Sockets error numbers used by the program.
inline constexpr int WSAEINTR = 10004;
inline constexpr int WSAEBADF = 10009;
inline constexpr int WSAEACCES = 10013;
inline constexpr int WSAEFAULT = 10014;
inline constexpr int WSAEINVAL = 10022;
inline constexpr int WSAEMFILE = 10024;
inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAEINPROGRESS = 10036;
inline constexpr int WSAEALREADY = 10037;
inline constexpr int WSAENOTSOCK = 10038;
inline constexpr int WSAEDESTADDRREQ = 10039;
inline constexpr int WSAEMSGSIZE = 10040;
inline constexpr int WSAEPROTOTYPE = 10041;
inline constexpr int WSAENOPROTOOPT = 10042;
inline constexpr int WSAEPROTONOSUPPORT = 10043;
inline constexpr int WSAESOCKTNOSUPPORT = 10044;
inline constexpr int WSAEOPNOTSUPP = 10045;
inline constexpr int WSAEPFNOSUPPORT = 10046;
inline constexpr int WSAEAFNOSUPPORT = 10047;
inline constexpr int WSAEADDRINUSE = 10048;
inline constexpr int WSAEADDRNOTAVAIL = 10049;
inline constexpr int WSAENETDOWN = 10050;
inline constexpr int WSAENETUNREACH = 10051;
inline constexpr int WSAENETRESET = 10052;
inline constexpr int WSAECONNABORTED = 10053;
inline constexpr int WSAECONNRESET = 10054;
inline constexpr int WSAENOBUFS = 10055;
inline constexpr int WSAEISCONN = 10056;
inline constexpr int WSAENOTCONN = 10057;
inline constexpr int WSAESHUTDOWN = 10058;
inline constexpr int WSAETIMEDOUT = 10060;
inline constexpr int WSAECONNREFUSED = 10061;
inline constexpr int WSAENAMETOOLONG = 10063;
inline constexpr int WSAEHOSTDOWN = 10064;
inline constexpr int WSAEHOSTUNREACH = 10065;
inline constexpr int WSAHOST_NOT_FOUND = 11001;
inline constexpr int WSATRY_AGAIN = 11002;
inline constexpr int WSANO_RECOVERY = 11003;
inline constexpr int WSANO_DATA = 11004;

class AsyncSocket : public QObject {
    Q_OBJECT
public:
    enum class Type { Datagram, Stream };
    static constexpr int SocketError = -1;

    explicit AsyncSocket(QObject* parent = nullptr);
    // Closes the socket.
    ~AsyncSocket() override;

    // Creates the socket and binds it to port (0: any) on bindAddress (dotted IPv4; null: any
    // address). No SO_REUSEADDR: a port in use fails with WSAEADDRINUSE. events selects the
    // notifications (FD_* bits). False and lastError() on failure; an open socket is closed first.
    bool create(Type type, std::uint16_t port = 0, const char* bindAddress = nullptr, long events = 0x3F);
    bool setBroadcast(bool on);
    // Asks for a kernel receive buffer of bytes (beyond the system's limit where the process may
    // raise it). Returns the size the kernel granted (as it reports it), or 0 on failure.
    int setReceiveBufferSize(int bytes);

    // Sends one datagram to address (dotted IPv4 or a host name) and port. Callable from any
    // thread. Returns the bytes sent or SocketError. flags: WS_MSG_* values.
    //
    // The limited broadcast 255.255.255.255 leaves by every attached network, as the program's
    // platform sends it, whether or not the system has a route for it: where the route is missing
    // (a LAN without a gateway, where Linux answers ENETUNREACH) the same bytes go out once on each
    // up, broadcast-capable IPv4 interface with a carrier but loopback, and the send counts as done when one of
    // them took it. The kernel loops each of those copies back to this socket; only the copy of the
    // first interface is received, so the sender still sees its own broadcast, and sees it once.
    int sendTo(const void* buf, int len, std::uint16_t port, const std::string& address, int flags = 0);
    // Receives one datagram; address gets the sender's dotted address, port its port. A datagram
    // longer than len is cut to len and reported as SocketError with WSAEMSGSIZE, as the program's
    // platform did.
    int receiveFrom(void* buf, int len, std::string& address, unsigned& port, int flags = 0);

    // Starts connecting a stream socket to host (dotted or a name) and port. True when the attempt
    // is under way: onConnect(0) or onConnect(error) follows on the creating thread, and lastError()
    // is WSAEWOULDBLOCK meanwhile (callers written for "false + WSAEWOULDBLOCK" only need to accept
    // either). False with lastError() when the attempt could not start: WSAEINVAL
    // for an empty or unknown host (as the program's platform reported it), WSAENOTSOCK without a
    // socket.
    bool connect(const std::string& host, std::uint16_t port);
    int send(const void* buf, int len, int flags = 0);
    int receive(void* buf, int len, int flags = 0);

    void close();
    bool isOpen() const { return m_fd.load() >= 0; }
    int handle() const { return m_fd.load(); }

    // The last error of a socket call on the calling thread (0 after success).
    static int lastError();
    static void setLastError(int wsaError);
    static int wsaErrorFromErrno(int err);
    // The port of a service (getservbyname), host byte order; 0 when unknown.
    static int servicePort(const char* name, const char* proto);
    // The interfaces a limited broadcast leaves by when the system has no route for it: the index
    // of every up, broadcast-capable IPv4 interface with a carrier but loopback, in rising order.
    static std::vector<int> broadcastInterfaces();

protected:
    // From inside onReceive: the next read notification comes no sooner than delayMs (at least 1),
    // after the timers that are due. A socket that never runs dry would otherwise keep the thread's
    // timers waiting for as long as data keeps coming (the event loop runs due timers only when
    // nothing else is ready).
    void deferNextReadNotification(int delayMs);

    virtual void onReceive(int err);
    virtual void onSend(int err);
    virtual void onConnect(int err);
    virtual void onClose(int err);
    virtual void onAccept(int err);

private:
    void readActivated();
    void writeActivated();
    void armRead();
    void armWrite();
    void enableNotifier(QSocketNotifier* notifier);
    bool checkTransfer(const void* buf, int len, int flags, int& fd, int& posix) const;
    void deliverConnectResult(int wsaError);
    bool onNotifierThread() const;
    int broadcastOnEachInterface(const void* buf, int len, const void* to, int posixFlags);
    bool isLoopedBackCopy(const char* data, std::size_t len, unsigned port, int interfaceIndex);

    // A broadcast sent on several interfaces comes back once from each; the copies of all but the
    // first are awaited here (bytes, interface indexes) and not received. Bounded: a copy the
    // kernel dropped must not keep an entry for ever.
    struct LoopedBackCopies {
        std::uint64_t id;
        std::string bytes;
        std::vector<int> interfaces;
    };
    static constexpr std::size_t kMaxAwaitedBroadcasts = 64;
    std::mutex m_loopedBackMutex;
    std::deque<LoopedBackCopies> m_loopedBack; // guarded by m_loopedBackMutex
    std::uint64_t m_loopedBackSerial = 0;      // guarded by m_loopedBackMutex
    std::atomic<bool> m_awaitingLoopedBack{false};
    std::atomic<unsigned> m_boundPort{0};

    std::atomic<int> m_fd{-1};
    Type m_type = Type::Datagram;
    long m_events = 0;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    bool m_connecting = false;
    bool m_connected = false;
    bool m_closeReported = false;
    bool m_inReadHandler = false;
    bool m_readWanted = false;
    int m_readDeferMs = -1;
};

} // namespace orvalink::platform
