#pragma once

// Turns SIGTERM and SIGINT (the desktop or the terminal asking the program to end) into the
// terminationRequested() signal on the thread that created this object, so that they lead to the
// program's ordinary shutdown. The signal handler only writes one byte to a pipe (async-signal
// safe); the rest happens in the event loop. terminationRequested() is emitted once: further
// signals while the shutdown runs are ignored.

#include <QObject>

class QSocketNotifier;

namespace orvalink::platform {

class TerminationSignals : public QObject {
    Q_OBJECT
public:
    // Installs the handlers. Only one object may exist at a time (a second one throws
    // std::logic_error). Destroying it restores the default actions.
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

    bool requested() const { return m_requested; }

signals:
    void terminationRequested();

private:
    void drain();

    QSocketNotifier* m_notifier = nullptr;
    bool m_requested = false;
};

} // namespace orvalink::platform
