#pragma once

// The send-and-receive window's place: at most one such window (CSendRecvDlg with its thread,
// CSendRecvThread) is open at a time. Everything here runs on the GUI thread.

namespace orvalink::mail {

class CSendRecvThread;
class ReceiveCommand;

class SendRecvWindow {
public:
    SendRecvWindow() = default;
    // Closes the window still open.
    ~SendRecvWindow();
    SendRecvWindow(const SendRecvWindow&) = delete;
    SendRecvWindow& operator=(const SendRecvWindow&) = delete;

    // Starts the thread, positions and shows its window, then receives as the receive command
    // does (`receive` runs it) and shows that download; an open window is raised instead. The
    // window closes at once when nothing is being received (no account, a refused setting).
    CSendRecvThread* open(ReceiveCommand& receive);
    // The open window's thread, or null.
    CSendRecvThread* current() const { return m_current; }
    // The program is ending: the window closes and its thread ends.
    void closeWindow();
    // The window of `thread` has gone.
    void forget(const CSendRecvThread* thread);

private:
    // Owned by its window, which ends the thread and deletes it when it closes.
    CSendRecvThread* m_current = nullptr;
};

} // namespace orvalink::mail
