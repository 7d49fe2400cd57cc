#pragma once

// The send-and-receive window's thread: at most one exists, in its SendRecvWindow. The window
// (CSendRecvDlg, on the GUI thread) receives through the receive command and shows that download;
// its thread lives exactly as long as it does.

#include "platform/UiThread.h"

namespace orvalink::mail {

class CSendRecvDlg;
class SendRecvWindow;

class CSendRecvThread : public platform::UiThread {
    Q_OBJECT
public:
    explicit CSendRecvThread(SendRecvWindow& place) : m_place(place) {}
    CSendRecvDlg* dialog() const { return m_dialog; }
    void setDialog(CSendRecvDlg* dialog) { m_dialog = dialog; }
    SendRecvWindow& place() const { return m_place; }

protected:
    bool initInstance() override;

private:
    SendRecvWindow& m_place;
    CSendRecvDlg* m_dialog = nullptr;
};

} // namespace orvalink::mail
