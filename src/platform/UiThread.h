#pragma once

// A user-interface thread: a QThread with its own event loop and a main window (a MessageTarget
// created on it). The thread lives exactly as long as its main window: when the window is
// destroyed, the loop ends.

#include "platform/MessageTarget.h"

#include <QPointer>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <mutex>

namespace orvalink::platform {

class UiThread : public QThread {
    Q_OBJECT
public:
    explicit UiThread(QObject* parent = nullptr);
    // Ends a thread still running (quitAndWait) so that destroying the object never leaves a
    // running thread behind.
    ~UiThread() override;

    void setMainWindow(MessageTarget* window);
    MessageTarget* mainWindow() const;

    // Set right after initInstance succeeded, on the new thread.
    bool ready() const { return m_ready.load(); }

    // Starts the thread and blocks until it is ready (true) or initInstance failed (false), with no
    // time-out. Only one thread of the process is being started at any time: a second caller waits
    // until the first start is over.
    bool startAndWaitReady();

    // Posts WM_QUIT to the main window (which ends the loop) and waits for the thread to end. With
    // no main window left the loop is told to quit directly.
    void quitAndWait();

    // What exitInstance returned (or -1 before the thread ended).
    int exitCode() const { return m_exitCode.load(); }

protected:
    // On the new thread: create the main window, setMainWindow(w), return true.
    virtual bool initInstance() = 0;
    // On the new thread after the loop ends (also after a failed initInstance). The main window,
    // if still there, is deleted after this returns.
    virtual int exitInstance();

    void run() override;

private:
    // Clears the main window under the lock and returns what it was.
    MessageTarget* forgetMainWindow();
    enum class StartState { Idle, Starting, Ready, Failed };
    void reportStart(StartState s);

    // Set on the new thread and cleared there when it ends, read from any thread.
    mutable std::mutex m_windowMutex;
    QPointer<MessageTarget> m_mainWindow;
    std::atomic<bool> m_ready{false};
    std::atomic<int> m_exitCode{-1};
    // Set last thing in run(), read after the thread is known to have ended: whoever deletes the
    // object sees all that run() did as done. QThread's own ordering for that lives inside Qt,
    // where ThreadSanitizer cannot see it.
    std::atomic<bool> m_runEnded{false};
    std::mutex m_startMutex;
    std::condition_variable m_startChanged;
    StartState m_startState = StartState::Idle;
};

} // namespace orvalink::platform
