#include "platform/TerminationSignals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <stdexcept>
#include <unistd.h>

namespace orvalink::platform {

namespace {

// The self-pipe: the handler writes, the notifier reads. Plain ints, set before the handlers are
// installed and reset after they are removed.
int g_pipe[2] = {-1, -1};
TerminationSignals* g_instance = nullptr;

extern "C" void onTerminationSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    // Non-blocking: if the pipe is full, a wake-up is pending anyway.
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

void setHandler(int sig, void (*handler)(int))
{
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(sig, &sa, nullptr);
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent)
{
    if (g_instance)
        throw std::logic_error("termination signals are already being watched");
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("cannot create the termination signal pipe");
    g_instance = this;
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { drain(); });
    setHandler(SIGTERM, onTerminationSignal);
    setHandler(SIGINT, onTerminationSignal);
}

TerminationSignals::~TerminationSignals()
{
    setHandler(SIGTERM, SIG_DFL);
    setHandler(SIGINT, SIG_DFL);
    delete m_notifier;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
    g_instance = nullptr;
}

void TerminationSignals::drain()
{
    char buf[64];
    while (::read(g_pipe[0], buf, sizeof buf) > 0) {
    }
    // The shutdown runs once; signals that arrive while it runs change nothing.
    if (m_requested)
        return;
    m_requested = true;
    emit terminationRequested();
}

} // namespace orvalink::platform
