#include "mail/SendRecvWindow.h"

#include "mail/CSendRecvDlg.h"
#include "mail/CSendRecvThread.h"
#include "mail/ReceiveCommand.h"

#include <QGuiApplication>
#include <QScreen>

namespace orvalink::mail {

SendRecvWindow::~SendRecvWindow()
{
    closeWindow();
}

CSendRecvThread* SendRecvWindow::open(ReceiveCommand& receive)
{
    if (m_current) {
        m_current->dialog()->raise();
        m_current->dialog()->activateWindow();
        return m_current;
    }
    auto* thread = new CSendRecvThread(*this);
    if (!thread->startAndWaitReady()) {
        delete thread;
        return nullptr;
    }
    m_current = thread;
    auto* dialog = new CSendRecvDlg(thread);
    thread->setDialog(dialog);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        dialog->move(screen->availableGeometry().center() - dialog->rect().center());
    dialog->show();
    dialog->followReceive(receive.run());
    return thread;
}

void SendRecvWindow::closeWindow()
{
    if (m_current && m_current->dialog())
        delete m_current->dialog();
}

void SendRecvWindow::forget(const CSendRecvThread* thread)
{
    if (m_current == thread)
        m_current = nullptr;
}

} // namespace orvalink::mail
