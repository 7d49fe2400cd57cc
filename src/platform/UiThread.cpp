#include "platform/UiThread.h"

#include "platform/Dispatch.h"

namespace orvalink::platform {

namespace {

// Thread starts are strictly one after another across the whole process.
std::mutex& startSerializer()
{
    static std::mutex m;
    return m;
}

} // namespace

UiThread::UiThread(QObject* parent) : QThread(parent) {}

UiThread::~UiThread()
{
    if (isRunning())
        quitAndWait();
    (void)m_runEnded.load(std::memory_order_acquire);
}

void UiThread::setMainWindow(MessageTarget* window)
{
    MessageTarget* old = mainWindow();
    if (old)
        disconnect(old, nullptr, this, nullptr);
    {
        std::lock_guard lock(m_windowMutex);
        m_mainWindow = window;
    }
    if (!window)
        return;
    // Direct connections: run on the window's thread (this thread), whatever this object's own
    // affinity is. QThread::exit is safe from any thread.
    // The window is forgotten before it goes, so that no other thread reads a pointer to an
    // object in the middle of its destruction.
    connect(
        window, &MessageTarget::destroyedWindow, this,
        [this] {
            forgetMainWindow();
            exit(0);
        },
        Qt::DirectConnection);
    connect(
        window, &QObject::destroyed, this, [this] { exit(0); }, Qt::DirectConnection);
}

MessageTarget* UiThread::mainWindow() const
{
    std::lock_guard lock(m_windowMutex);
    return m_mainWindow.data();
}

MessageTarget* UiThread::forgetMainWindow()
{
    std::lock_guard lock(m_windowMutex);
    MessageTarget* w = m_mainWindow.data();
    m_mainWindow = nullptr;
    return w;
}

int UiThread::exitInstance()
{
    return 0;
}

void UiThread::reportStart(StartState s)
{
    {
        std::lock_guard lock(m_startMutex);
        m_startState = s;
    }
    m_startChanged.notify_all();
}

void UiThread::run()
{
    const bool ok = initInstance();
    if (ok) {
        m_ready.store(true);
        reportStart(StartState::Ready);
        exec();
    } else {
        reportStart(StartState::Failed);
    }
    // Nothing queued to this thread's windows can be handled any more: release its senders.
    detail::retireTargetsOfCurrentThread();
    m_exitCode.store(exitInstance());
    // Forgotten first, deleted after: quitAndWait() on another thread then finds no window rather
    // than one half destroyed.
    if (MessageTarget* w = forgetMainWindow(); w && w->thread() == QThread::currentThread())
        delete w;
    m_runEnded.store(true, std::memory_order_release);
}

bool UiThread::startAndWaitReady()
{
    std::lock_guard serial(startSerializer());
    {
        std::lock_guard lock(m_startMutex);
        m_startState = StartState::Starting;
    }
    start();
    std::unique_lock lock(m_startMutex);
    m_startChanged.wait(lock, [this] { return m_startState != StartState::Starting; });
    return m_startState == StartState::Ready;
}

void UiThread::quitAndWait()
{
    if (!isRunning() && !isFinished()) {
        return; // never started
    }
    MessageTarget* w = mainWindow();
    if (!w || !postMessage(w, WindowMessage{WM_QUIT, {}, {}}))
        quit();
    wait();
    (void)m_runEnded.load(std::memory_order_acquire);
}

} // namespace orvalink::platform
