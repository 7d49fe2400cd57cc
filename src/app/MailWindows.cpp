#include "app/CMainFrame.h"
#include "app/MailWindows_p.h"
#include "mail/CSendRecvThread.h"
#include "mail/ComposeWindows.h"
#include "mail/ReceiveCommand.h"

namespace orvalink::app {

using mail::closeAllComposeWindows;
using mail::CSendRecvThread;
using mail::OpenComposeWindow;
using mail::ReceiveCommand;

void installMailWindows(CMainFrame& frame, ReceiveCommand& receive)
{
    frame.setCommandHandler(CMainFrame::ID_MAIL_NEW, [] { OpenComposeWindow({}, {}); });
    // Send-and-receive receives through the receive command itself: one receive window, one
    // download at a time, whichever command started it.
    frame.setCommandHandler(CMainFrame::ID_MAIL_SEND_RECEIVE, [&receive] { CSendRecvThread::open(receive); });
    // Mail windows still open when the program ends go with it, their threads ended first.
    QObject::connect(&frame, &CMainFrame::windowDestroyed, &frame, [] {
        closeAllComposeWindows();
        CSendRecvThread::closeWindow();
    });
}

} // namespace orvalink::app
