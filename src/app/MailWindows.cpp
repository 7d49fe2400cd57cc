#include "app/CMainFrame.h"
#include "app/MailWindows_p.h"
#include "mail/ComposeWindows.h"
#include "mail/MailState.h"
#include "mail/ReceiveCommand.h"
#include "mail/SendRecvWindow.h"
#include "res/ResourceIds.h"

namespace orvalink::app {

using mail::closeAllComposeWindows;
using mail::OpenComposeWindow;
using mail::ReceiveCommand;

void installMailWindows(CMainFrame& frame, ReceiveCommand& receive, mail::MailState& side)
{
    frame.setCommandHandler(res::kCmdMailNew, [&side] { OpenComposeWindow(side, {}, {}); });
    // Send-and-receive receives through the receive command itself: one receive window, one
    // download at a time, whichever command started it.
    frame.setCommandHandler(res::kCmdMailSendReceive, [&receive, &side] { side.sendRecvWindow().open(receive); });
    // Mail windows still open when the program ends go with it, their threads ended first.
    QObject::connect(&frame, &CMainFrame::windowDestroyed, &frame, [&side] {
        closeAllComposeWindows(side);
        side.sendRecvWindow().closeWindow();
    });
}

} // namespace orvalink::app
