#include "app/CMainFrame.h"
#include "app/MailWindows_p.h"
#include "mail/CSendRecvThread.h"
#include "mail/ComposeWindows.h"

namespace orvalink::app {

using mail::closeAllComposeWindows;
using mail::CSendRecvThread;
using mail::OpenComposeWindow;

void installMailWindows(CMainFrame& frame)
{
    frame.setCommandHandler(CMainFrame::ID_MAIL_NEW, [] { OpenComposeWindow({}, {}); });
    frame.setCommandHandler(CMainFrame::ID_MAIL_SEND_RECEIVE, [] { CSendRecvThread::open(); });
    // Mail windows still open when the program ends go with it, their threads ended first.
    QObject::connect(&frame, &CMainFrame::windowDestroyed, &frame, [] {
        closeAllComposeWindows();
        CSendRecvThread::closeWindow();
    });
}

} // namespace orvalink::app
