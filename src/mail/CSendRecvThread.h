#pragma once

// The send-and-receive window's thread: at most one exists. The window (CSendRecvDlg, on the GUI
// thread) receives through the receive command and shows that download; its thread lives exactly
// as long as it does.

#include "platform/UiThread.h"

namespace orvalink::mail {

class CSendRecvDlg;
class ReceiveCommand;

class CSendRecvThread : public platform::UiThread {
    Q_OBJECT
public:
    CSendRecvDlg* dialog() const { return m_dialog; }
    void setDialog(CSendRecvDlg* dialog) { m_dialog = dialog; }

    // Starts the thread, positions and shows its window, then receives as the receive command
    // does (`receive` runs it) and shows that download; an open window is raised instead. The
    // window closes at once when nothing is being received (no account, a refused setting).
    static CSendRecvThread* open(ReceiveCommand& receive);
    // The open window's thread, or null.
    static CSendRecvThread* current();
    // The program is ending: the window closes and its thread ends.
    static void closeWindow();

protected:
    bool initInstance() override;

private:
    friend class CSendRecvDlg;
    static void forget(CSendRecvThread* thread);

    CSendRecvDlg* m_dialog = nullptr;
};

} // namespace orvalink::mail
