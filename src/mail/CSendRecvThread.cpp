#include "mail/CSendRecvThread.h"

#include "mail/CSendRecvDlg.h"
#include "mail/ReceiveCommand.h"

#include <QGuiApplication>
#include <QScreen>

namespace orvalink::mail {

namespace {

// The thread's main window in the message sense: it only gives the thread its life.
class SendRecvTarget : public platform::MessageTarget {
public:
    std::intptr_t windowProc(platform::WindowMessage&) override { return 0; }
};

CSendRecvThread* g_current = nullptr;

} // namespace

bool CSendRecvThread::initInstance()
{
    setMainWindow(new SendRecvTarget);
    return true;
}

CSendRecvThread* CSendRecvThread::current()
{
    return g_current;
}

CSendRecvThread* CSendRecvThread::open(ReceiveCommand& receive)
{
    if (g_current) {
        g_current->dialog()->raise();
        g_current->dialog()->activateWindow();
        return g_current;
    }
    auto* thread = new CSendRecvThread;
    if (!thread->startAndWaitReady()) {
        delete thread;
        return nullptr;
    }
    g_current = thread;
    auto* dialog = new CSendRecvDlg(thread);
    thread->setDialog(dialog);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        dialog->move(screen->availableGeometry().center() - dialog->rect().center());
    dialog->show();
    dialog->followReceive(receive.run());
    return thread;
}

void CSendRecvThread::closeWindow()
{
    if (g_current && g_current->dialog())
        delete g_current->dialog();
}

void CSendRecvThread::forget(CSendRecvThread* thread)
{
    if (g_current == thread)
        g_current = nullptr;
}

} // namespace orvalink::mail
